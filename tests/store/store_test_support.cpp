#include "store_test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace storetest {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "rebounce-store-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

store::RunRecord sampleRecord(int n, bool full)
{
    store::RunRecord r;
    r.timeUtc = "2026-12-08T13:" + std::string(n < 10 ? "0" : "") + std::to_string(n % 60) + ":00.000Z";
    r.station = "station-" + std::to_string(n % 2);
    r.port = full ? "/dev/ttyUSB" + std::to_string(n % 4) : "/dev/pts/" + std::to_string(n);
    r.run = n;
    r.baud = 115200;
    r.patternLength = 1000;
    r.verdict = n % 3 == 0 ? "FAIL" : "PASS";
    r.sent = 1000;
    r.received = n % 3 == 0 ? 998 : 1000;
    r.sendMs = 87;
    r.lastReadMs = 91 + n;
    r.lineTimeMs = 87;
    r.timeoutMs = 1087;
    r.programVersion = "1.0";
    if (!full)
        return r;
    r.operatorName = "Ana Lúcia";
    r.position = "P" + std::to_string(n % 4 + 1);
    r.identity.usbId = "0403:6011";
    r.identity.serialNumber = n % 4 == 3 ? std::optional<std::string>() : "FT" + std::to_string(n % 2) + "ABCDE";
    r.identity.interfaceNumber = n % 4;
    r.identity.usbPath = "1-1.4:1." + std::to_string(n % 4);
    r.identity.byId = "/dev/serial/by-id/usb-FTDI_Quad_RS232-HS-if0" + std::to_string(n % 4) + "-port0";
    r.identity.driver = "ftdi_sio";
    r.latencyTimerMs = 1;
    r.lowLatency = true;
    r.frame = "8N1";
    r.pattern = "classic";
    r.firstByteMs = 1.25 + n;
    if (r.verdict == "FAIL") {
        r.wrongBytes = 1;
        r.missingBytes = 2;
        r.framingErrors = 3;
        r.overrunErrors = 4;
        r.parityErrors = 5;
        r.breaks = 6;
        r.faultPosition = 417;
        r.faultExpected = 0x41;
        r.faultReceived = std::nullopt;
        r.message = "Echo differs";
    }
    return r;
}

namespace {

void writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

std::string readAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return text;
        text.append(buffer, size_t(n));
    }
}

} // namespace

std::optional<std::string> inPrivateTmpfs(const std::string &mountPoint, int sizeKiB,
                                          const std::function<std::string()> &body, std::string &skipReason)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "pipe: " + std::string(std::strerror(errno));
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        std::string answer;
        if (unshare(CLONE_NEWNS) != 0) {
            answer = "SKIP:no private mount namespace (" + std::string(std::strerror(errno)) + "; needs root)";
        } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            answer = "SKIP:cannot make the mounts private (" + std::string(std::strerror(errno)) + ")";
        } else if (mount("tmpfs", mountPoint.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                         ("size=" + std::to_string(sizeKiB) + "k,mode=0777").c_str())
                   != 0) {
            answer = "SKIP:cannot mount a tmpfs (" + std::string(std::strerror(errno)) + ")";
        } else {
            answer = body();
        }
        writeAll(pipeFds[1], answer);
        close(pipeFds[1]);
        _exit(0);
    }
    close(pipeFds[1]);
    const std::string answer = readAll(pipeFds[0]);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child process ended abnormally (status " + std::to_string(status) + "): " + answer;
    if (answer.rfind("SKIP:", 0) == 0) {
        skipReason = answer.substr(5);
        return std::nullopt;
    }
    return answer;
}

} // namespace storetest
