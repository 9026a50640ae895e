#pragma once
// Puts the process into a locale whose decimal separator is a comma (the C
// library's and the C++ global one) for the lifetime of the object, and
// back afterwards.  The build makes a de_DE locale in a folder of its own
// that the tests find through LOCPATH, so no system locale is needed;
// available() is false where none could be made or found.
#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

namespace support {

class CommaDecimalLocale {
public:
    CommaDecimalLocale() : previous_(std::setlocale(LC_ALL, nullptr))
    {
        if (!enter())
            std::setlocale(LC_ALL, previous_.c_str());
    }
    ~CommaDecimalLocale()
    {
        std::setlocale(LC_ALL, previous_.c_str());
        std::locale::global(previousGlobal_);
    }
    CommaDecimalLocale(const CommaDecimalLocale &) = delete;
    CommaDecimalLocale &operator=(const CommaDecimalLocale &) = delete;

    bool available() const { return available_; }

private:
    bool enter()
    {
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point == std::string(",")) {
                try {
                    previousGlobal_ = std::locale::global(std::locale(name));
                } catch (const std::runtime_error &) {
                    // The C library's locale is the one that matters most.
                }
                available_ = true;
                return true;
            }
        }
        return false;
    }

    std::string previous_;
    std::locale previousGlobal_ = std::locale();
    bool available_ = false;
};

} // namespace support
