#pragma once
// A private PostgreSQL server for tests and benchmarks: initdb and pg_ctl from the installed
// PostgreSQL in a temporary folder, listening only on a Unix socket in that folder (no TCP). The
// server refuses to run as root, so under root it runs as the user `nobody`.
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qln_test {

class PgServer {
public:
    // `durable`: the server flushes to disk as a real one does (benchmarks); tests skip that.
    explicit PgServer(bool durable = false) : durable_(durable) {
        bin_ = FindBin();
        if (bin_.empty()) {
            error_ = "no PostgreSQL found under /usr/lib/postgresql/*/bin (install the package postgresql)";
            return;
        }
        char dir[] = "/tmp/qln-pg-XXXXXX";
        if (!::mkdtemp(dir)) {
            error_ = "no temporary folder";
            return;
        }
        dir_ = dir;
        if (::getuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(dir, nobody->pw_uid, nobody->pw_gid) != 0) {
                error_ = "cannot hand " + dir_ + " to the user nobody";
                return;
            }
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
        }
        if (Run({bin_ + "/initdb", "-D", dir_ + "/data", "-U", "qln", "--auth=trust", "-E", "UTF8",
                 "--no-locale", "-N"}) != 0)
            error_ = "initdb failed; see " + dir_ + "/tools.log";
        else if (!AllowPasswordsOnly())
            error_ = "cannot write " + dir_ + "/data/pg_hba.conf";
        else if (!Start())
            error_ = "pg_ctl start failed; see " + dir_ + "/tools.log and /log";
    }
    ~PgServer() {
        if (running_) Stop();
        if (!dir_.empty() && error_.empty()) std::filesystem::remove_all(dir_);
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // Empty when the server runs.
    const std::string& Error() const { return error_; }
    bool Start() {
        // Every statement that makes or changes a table is logged with its user, so that a test can
        // show a station ran none.
        std::string options =
            "-k " + dir_ + " -c listen_addresses= -c log_statement=ddl -c log_line_prefix=%u:";
        if (!durable_) options += " -c fsync=off";
        running_ = Run({bin_ + "/pg_ctl", "start", "-w", "-D", dir_ + "/data", "-l", dir_ + "/log", "-o",
                        options}) == 0;
        return running_;
    }
    bool Stop() {
        running_ = !(Run({bin_ + "/pg_ctl", "stop", "-w", "-m", "fast", "-D", dir_ + "/data"}) == 0);
        return !running_;
    }
    // A new, empty database and the URI that reaches it.
    std::string NewDatabase(const std::string& name) {
        if (Run({bin_ + "/createdb", "-h", dir_, "-U", "qln", name}) != 0) return "";
        return "postgresql:///" + name + "?host=" + dir_ + "&user=qln";
    }

    // The server's log.
    std::string LogPath() const { return dir_ + "/log"; }
    // A URI for `user` (who authenticates with a password from libpq's password file) to `uri`'s
    // database.
    static std::string As(const std::string& uri, const std::string& user) {
        return uri.substr(0, uri.rfind("&user=")) + "&user=" + user;
    }

private:
    // The superuser `qln` of the tests is trusted; every other role needs its password (SCRAM), as on
    // a line's server.
    bool AllowPasswordsOnly() {
        const std::string hba = dir_ + "/data/pg_hba.conf";
        FILE* f = std::fopen(hba.c_str(), "w");
        if (!f) return false;
        std::fputs("local all qln trust\nlocal all all scram-sha-256\n", f);
        return std::fclose(f) == 0 && (uid_ == 0 || ::chown(hba.c_str(), uid_, gid_) == 0);
    }
    static std::string FindBin() {
        std::string best;
        std::error_code ec;
        for (const auto& version : std::filesystem::directory_iterator("/usr/lib/postgresql", ec))
            if (std::filesystem::exists(version.path() / "bin/initdb") && version.path().string() > best)
                best = version.path().string();
        return best.empty() ? best : best + "/bin";
    }
    // Runs a PostgreSQL program as the server's user, its output into the folder's log.
    int Run(const std::vector<std::string>& args) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const std::string log = dir_ + "/tools.log";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0 && (::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0)) ::_exit(126);
            if (uid_ != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid_) != 0 || ::setuid(uid_) != 0))
                ::_exit(126);
            if (::chdir(dir_.c_str()) != 0) ::_exit(126);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool durable_;
    std::string bin_, dir_, error_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    bool running_ = false;
};

} // namespace qln_test
