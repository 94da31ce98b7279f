#pragma once
// A private PostgreSQL server for a test: its own cluster in a scratch folder, a Unix socket in
// that folder, a free port, no TCP listener. Run as "nobody" when the test runs as root (the
// server refuses root). Debian's server programs; the superuser "tolvane" logs in with a
// password (scram-sha-256), so a wrong one is refused as in a factory.
#include <string>
#include <sys/types.h>

namespace tolvane::test {

class PostgresServer {
  public:
    static constexpr const char* Password = "pg-test-Secret7";
    PostgresServer() = default;
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Makes the cluster (once) and starts the server; false with the reason.
    bool Start(std::string& error);
    // Stops it as an administrator would (a fast shutdown), waiting for it to end.
    void Stop();
    // SIGKILL of the postmaster: the server gone at once, as in a crash.
    void Kill();
    bool Running() const { return Postmaster > 0; }

    // An ODBC connection string for the "PostgreSQL Unicode" driver, with the password given.
    std::string Connection(const std::string& password = Password) const;
    const std::string& Folder() const { return Dir; }
    int Port() const { return PortNumber; }

  private:
    std::string Dir;
    int PortNumber = 0;
    pid_t Postmaster = -1;
    bool Made = false;
};

} // namespace tolvane::test
