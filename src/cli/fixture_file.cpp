#include "cli/fixture_file.h"

#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/echo_inputs.h"
#include "engine/test_plan.h"

namespace cli {

namespace {

using nlohmann::json;

// A rate as a number or as text; checked as --baud checks it.
std::string rateOf(const json &value, const std::string &where)
{
    std::string text;
    if (value.is_number_unsigned())
        text = std::to_string(value.get<unsigned long long>());
    else if (value.is_string())
        text = value.get<std::string>();
    else
        throw FixtureError(where + ": \"baud\" must be a whole number");
    if (const std::string problem = checkBaudText(text); !problem.empty())
        throw FixtureError(where + ": \"baud\": " + problem);
    return text;
}

std::string textOf(const json &value, const std::string &where, const char *key)
{
    if (!value.is_string() || value.get<std::string>().empty())
        throw FixtureError(where + ": \"" + key + "\" must be a non-empty text");
    return value.get<std::string>();
}

} // namespace

Fixture parseFixture(const std::string &text, const std::string &source, const std::string &defaultBaud)
{
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error &error) {
        throw FixtureError(source + ": not valid JSON: " + error.what());
    }
    if (!document.is_object())
        throw FixtureError(source + ": expected an object with \"positions\"");
    for (const auto &[key, value] : document.items()) {
        if (key != "positions" && key != "baud")
            throw FixtureError(source + ": unknown key \"" + key + "\" (expected \"positions\" and \"baud\")");
    }
    const std::string fileBaud = document.contains("baud") ? rateOf(document["baud"], source) : defaultBaud;
    if (!document.contains("positions") || !document["positions"].is_array() || document["positions"].empty())
        throw FixtureError(source + ": \"positions\" must be a list of at least one position");

    Fixture fixture;
    std::set<std::string> names;
    int index = 0;
    for (const json &entry : document["positions"]) {
        ++index;
        std::string where = source + ": position " + std::to_string(index);
        if (!entry.is_object())
            throw FixtureError(where + ": expected an object");
        FixturePosition position;
        position.baud = fileBaud;
        int places = 0;
        for (const auto &[key, value] : entry.items()) {
            if (key == "name") {
                position.name = textOf(value, where, "name");
            } else if (key == "usb_path") {
                position.device = "usb-path:" + textOf(value, where, "usb_path");
                ++places;
            } else if (key == "usb_serial") {
                position.device = "usb-serial:" + textOf(value, where, "usb_serial");
                ++places;
            } else if (key == "device") {
                position.device = textOf(value, where, "device");
                ++places;
            } else if (key == "baud") {
                position.baud = rateOf(value, where);
            } else if (key == "frame") {
                const std::string frame = textOf(value, where, "frame");
                if (!echotest::parseFrame(frame))
                    throw FixtureError(where + ": \"frame\": expected a frame such as 8N1 or 7E1, not " + frame);
                position.frame = frame;
            } else {
                throw FixtureError(where + ": unknown key \"" + key
                                   + "\" (expected name, usb_path, usb_serial, device, baud, frame)");
            }
        }
        if (position.name.empty())
            throw FixtureError(where + ": every position needs a \"name\"");
        where += " (" + position.name + ")";
        if (places != 1)
            throw FixtureError(where + ": name exactly one of \"usb_path\", \"usb_serial\" and \"device\"");
        if (!names.insert(position.name).second)
            throw FixtureError(where + ": the name " + position.name + " is used twice");
        fixture.positions.push_back(std::move(position));
    }
    return fixture;
}

Fixture readFixtureFile(const std::string &path, const std::string &defaultBaud)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw FixtureError("Cannot read the fixture file " + path + ".");
    std::ostringstream text;
    text << in.rdbuf();
    return parseFixture(text.str(), path, defaultBaud);
}

} // namespace cli
