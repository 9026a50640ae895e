#include "support/ser2net_server.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

std::string findOnPath(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    dirs += ":/usr/sbin:/sbin";
    std::istringstream in(dirs);
    for (std::string dir; std::getline(in, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

// Free ports on the loopback, all held until all are chosen so that none
// comes twice.  Another program may take one before ser2net binds it: the
// caller checks that ser2net itself listens there.
std::vector<std::uint16_t> freePorts(std::size_t count)
{
    std::vector<int> held;
    std::vector<std::uint16_t> ports;
    for (std::size_t i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
            if (fd >= 0)
                ::close(fd);
            break;
        }
        held.push_back(fd);
        ports.push_back(ntohs(address.sin_port));
    }
    for (const int fd : held)
        ::close(fd);
    return ports;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

std::string Ser2netServer::missing()
{
    if (findOnPath("ser2net").empty())
        return "ser2net is not installed (Debian package ser2net; tools/install-deps.sh installs it)";
    return {};
}

Ser2netServer::Ser2netServer(std::vector<Line> lines) : lines_(std::move(lines)) {}

Ser2netServer::~Ser2netServer()
{
    stop();
    if (!folder_.empty()) {
        std::remove((folder_ + "/ser2net.yaml").c_str());
        std::remove((folder_ + "/ser2net.log").c_str());
        ::rmdir(folder_.c_str());
    }
}

bool Ser2netServer::start()
{
    char folder[] = "/tmp/rebounce-ser2net-XXXXXX";
    if (!::mkdtemp(folder)) {
        error_ = std::string("no temporary folder: ") + std::strerror(errno);
        return false;
    }
    folder_ = folder;
    // A port taken by another program between our look and ser2net's bind
    // is chosen anew.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce())
            return true;
        stop();
    }
    return false;
}

bool Ser2netServer::startOnce()
{
    const std::string program = findOnPath("ser2net");
    ports_ = freePorts(lines_.size());
    if (program.empty() || ports_.size() != lines_.size()) {
        error_ = program.empty() ? "ser2net not found" : "no free local ports";
        return false;
    }
    const std::string config = folder_ + "/ser2net.yaml";
    {
        std::ofstream out(config, std::ios::trunc);
        out << "%YAML 1.1\n---\n";
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            // Only pseudo-terminals: nothing here may reach a real port,
            // also not through a symlink or "..".
            char *resolved = ::realpath(lines_[i].device.c_str(), nullptr);
            const std::string real = resolved ? resolved : "";
            std::free(resolved);
            if (lines_[i].device.rfind("/dev/pts/", 0) != 0 || real != lines_[i].device) {
                error_ = "refusing to serve " + lines_[i].device + ": not a pseudo-terminal";
                return false;
            }
            out << "connection: &line" << i << "\n"
                << "  accepter: " << (lines_[i].accepter == Accepter::Rfc2217 ? "telnet(rfc2217),tcp" : "tcp")
                << ",127.0.0.1," << ports_[i] << "\n"
                << "  enable: on\n"
                << "  connector: serialdev," << lines_[i].device << ",9600n81,local\n";
        }
    }
    const std::string log = folder_ + "/ser2net.log";
    pid_ = ::fork();
    if (pid_ < 0) {
        error_ = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid_ == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        const int none = ::open("/dev/null", O_RDONLY);
        if (none >= 0)
            ::dup2(none, 0);
        // -n: in the foreground, so that the pid is the server's; -u: no
        // UUCP lock files; -c: this configuration and no other.
        ::execl(program.c_str(), "ser2net", "-n", "-u", "-c", config.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "ser2net ended at start: " + readAll(log);
            return false;
        }
        if (listensOnAll())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "ser2net does not listen on its ports: " + readAll(log);
    return false;
}

// Every port in LISTEN state on a socket of ser2net's own (its descriptors'
// inodes against the kernel's table), never merely someone's.
bool Ser2netServer::listensOnAll() const
{
    std::set<std::string> inodes;
    const std::string fdDir = "/proc/" + std::to_string(pid_) + "/fd";
    if (DIR *dir = ::opendir(fdDir.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            char target[64] = {};
            const std::string link = fdDir + "/" + entry->d_name;
            const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
            if (length > 9 && std::strncmp(target, "socket:[", 8) == 0)
                inodes.insert(std::string(target + 8, static_cast<std::size_t>(length) - 9));
        }
        ::closedir(dir);
    }
    std::set<std::uint16_t> listening;
    for (const char *table : {"/net/tcp", "/net/tcp6"}) {
        std::istringstream lines(readAll("/proc/" + std::to_string(pid_) + table));
        std::string line;
        std::getline(lines, line); // heading
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
            const auto colon = local.rfind(':');
            if (state != "0A" || colon == std::string::npos || !inodes.count(inode))
                continue;
            listening.insert(static_cast<std::uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16)));
        }
    }
    return std::all_of(ports_.begin(), ports_.end(), [&](std::uint16_t p) { return listening.count(p) != 0; });
}

void Ser2netServer::kill()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void Ser2netServer::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill();
}

} // namespace testsupport
