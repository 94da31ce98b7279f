#include "tests/support/PostgresServer.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tolvane::test {

namespace {

const std::string Bin = "/usr/lib/postgresql/15/bin/";

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

// Starts the program as the unprivileged user when this is root; its standard output and
// errors into log.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(126);
    }
    std::freopen(log.c_str(), "a", stdout);
    std::freopen(log.c_str(), "a", stderr);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

PostgresServer::~PostgresServer() {
    Stop();
    if (!Dir.empty()) std::filesystem::remove_all(Dir);
}

bool PostgresServer::Start(std::string& error) {
    if (Running()) return true;
    if (Dir.empty()) {
        char pattern[] = "/tmp/tolvane-pg.XXXXXX";
        if (!mkdtemp(pattern)) {
            error = "no scratch folder";
            return false;
        }
        Dir = pattern;
        PortNumber = FreePort();
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            if (!nobody || chown(Dir.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                error = "cannot hand the scratch folder to nobody";
                return false;
            }
        }
    }
    const std::string log = Dir + "/server.log";
    if (!Made) {
        { std::ofstream(Dir + "/pw") << Password << "\n"; }
        if (geteuid() == 0) chmod((Dir + "/pw").c_str(), 0644);
        const int status = Wait(
            Spawn({Bin + "initdb", "-D", Dir + "/data", "-U", "tolvane", "--auth=scram-sha-256",
                   "--pwfile=" + Dir + "/pw", "-E", "UTF8", "--locale=C.UTF-8"},
                  log));
        if (status != 0) {
            error = "initdb failed (" + std::to_string(status) + "), see " + log;
            return false;
        }
        Made = true;
    }
    Postmaster = Spawn({Bin + "postgres", "-D", Dir + "/data", "-k", Dir, "-p",
                        std::to_string(PortNumber), "-c", "listen_addresses=", "-c", "fsync=off"},
                       log);
    const std::string socket = Dir + "/.s.PGSQL." + std::to_string(PortNumber);
    for (int i = 0; i < 600; ++i) {
        if (std::filesystem::exists(socket)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // past its start-up
            return true;
        }
        int status = 0;
        if (waitpid(Postmaster, &status, WNOHANG) == Postmaster) {
            Postmaster = -1;
            error = "the server ended at its start, see " + log;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error = "the server did not open its socket within 30 s";
    Kill();
    return false;
}

void PostgresServer::Stop() {
    if (!Running()) return;
    kill(Postmaster, SIGINT); // a fast shutdown
    Wait(Postmaster);
    Postmaster = -1;
}

void PostgresServer::Kill() {
    if (!Running()) return;
    kill(Postmaster, SIGKILL);
    Wait(Postmaster);
    Postmaster = -1;
    // Its children notice the postmaster's end themselves; the next start waits for them.
    std::filesystem::remove(Dir + "/.s.PGSQL." + std::to_string(PortNumber));
}

std::string PostgresServer::Connection(const std::string& password) const {
    return "Driver={PostgreSQL Unicode};Server=" + Dir + ";Port=" + std::to_string(PortNumber) +
           ";Database=postgres;Uid=tolvane;Pwd=" + password;
}

} // namespace tolvane::test
