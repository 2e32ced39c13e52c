// valtrino-labd: hands this PC's record claims to the lab's PostgreSQL
// server and answers them. The set-group-id record program, which has no
// network, leaves claims in RECORD_DIR/lab/outbox; this service sends each
// one, writes its verdict in lab/verdicts and keeps the lab's record, as
// last seen, in lab/seen. A claim stays in the outbox until the server
// answered it; its id makes a retry after a lost reply harmless.
//
// It runs as its own system user, the only one that can read the password
// in the configuration, and in the foreground: systemd, or by hand.

#include "LabClaim.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <poll.h>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef VALTRINO_RECORD_DIR
#error "VALTRINO_RECORD_DIR: the record directory, fixed at build time"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Down or cut off, the server is tried again this often: a claim reaches it
// within seconds of its return.
constexpr auto retryEvery = 2s;
// Another PC's record reaches this one's start-up at the latest this late.
constexpr auto refreshEvery = 10s;
// A verdict nobody collected: its record program gave up waiting.
constexpr auto verdictLife = 60s;

volatile std::sig_atomic_t stopping = 0;

void say(std::string text)
{
    // libpq's messages end with a line end of their own.
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    std::fprintf(stderr, "valtrino-labd: %s\n", text.c_str());
}

std::string trimmed(const std::string &text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    const std::size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

using Configuration = std::map<std::string, std::string>;

// "key = value" lines and "#" comments; the keys below and no others.
bool readConfiguration(const char *path, Configuration &configuration)
{
    static const char *const required[] = {"host", "hostaddr", "port", "dbname", "user", "password", "sslrootcert"};
    std::ifstream file(path);
    if (!file) {
        say(std::string(path) + ": " + std::strerror(errno));
        return false;
    }
    struct stat info;
    if (::stat(path, &info) == 0 && (info.st_mode & S_IROTH))
        say(std::string(path) + ": readable by everyone, password included: chmod 640 it");
    configuration["records"] = VALTRINO_RECORD_DIR;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        line = trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t equals = line.find('=');
        const std::string key = equals == std::string::npos ? line : trimmed(line.substr(0, equals));
        const bool known = key == "records" || std::any_of(std::begin(required), std::end(required),
                                                           [&](const char *name) { return key == name; });
        if (equals == std::string::npos || !known) {
            say(std::string(path) + ":" + std::to_string(number) + ": not a known \"key = value\"");
            return false;
        }
        configuration[key] = trimmed(line.substr(equals + 1));
    }
    for (const char *key : required) {
        if (configuration[key].empty()) {
            say(std::string(path) + ": no " + key);
            return false;
        }
    }
    return true;
}

// Every parameter given, none left to libpq's defaults: those come from
// the environment and from files in the home directory.
PGconn *connect(const Configuration &configuration)
{
    // Paths that nobody can create: no client certificate, key, revocation
    // list or password file is ever read.
    const char *nothing = "/proc/self/valtrino-labd-none";
    std::vector<const char *> keys{"host", "hostaddr", "port", "dbname", "user", "password", "sslrootcert",
                                   "sslmode", "channel_binding", "gssencmode", "sslcert", "sslkey", "sslcrl",
                                   "sslcrldir", "passfile", "connect_timeout", "keepalives", "keepalives_idle",
                                   "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                                   "application_name", "client_encoding", "options"};
    std::vector<const char *> values{configuration.at("host").c_str(), configuration.at("hostaddr").c_str(),
                                     configuration.at("port").c_str(), configuration.at("dbname").c_str(),
                                     configuration.at("user").c_str(), configuration.at("password").c_str(),
                                     configuration.at("sslrootcert").c_str(), "verify-full", "require", "disable",
                                     nothing, nothing, nothing, nothing, nothing, "2", "1", "1", "1", "2", "2000",
                                     "valtrino-labd", "UTF8", ""};
    // Keywords that libpq 15 does not know and would refuse.
    if (PQlibVersion() >= 160000) {
        keys.insert(keys.end(), {"sslcertmode", "require_auth"});
        values.insert(values.end(), {"disable", "scram-sha-256"});
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn *connection = PQconnectdbParams(keys.data(), values.data(), 0);
    if (PQstatus(connection) != CONNECTION_OK) {
        say(std::string("cannot reach the lab's server: ") + PQerrorMessage(connection));
        PQfinish(connection);
        return nullptr;
    }
    say("connected to " + configuration.at("host"));
    return connection;
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

Result run(PGconn *connection, const char *query, std::vector<std::string> parameters = {})
{
    std::vector<const char *> values;
    for (const std::string &parameter : parameters)
        values.push_back(parameter.c_str());
    return Result(PQexecParams(connection, query, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
                  PQclear);
}

std::string hex(std::string_view bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        // Not characters of windows-1252: the game would have shown "?".
        const bool none = byte == 0 || byte == 0x81 || byte == 0x8d || byte == 0x8f || byte == 0x90 || byte == 0x9d;
        const unsigned char shown = none ? '?' : byte;
        text += digits[shown >> 4];
        text += digits[shown & 15];
    }
    return text;
}

std::string unhex(std::string_view text)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += char(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
    return bytes;
}

class Service
{
public:
    explicit Service(const Configuration &configuration)
        : m_configuration(configuration), m_records(configuration.at("records")),
          m_lab(m_records, core::lab::directory), m_outbox(m_lab, core::lab::outbox),
          m_verdicts(m_lab, core::lab::verdicts)
    {
    }
    ~Service() { disconnect(); }

    int outboxFd() const { return m_outbox.fd(); }

    void work()
    {
        const auto now = Clock::now();
        if (!m_connection && now >= m_nextTry) {
            m_connection = connect(m_configuration);
            m_nextTry = Clock::now() + retryEvery;
            if (m_connection)
                refresh();
        }
        if (m_connection && !deliver()) {
            // A server that restarted: one new connection at once.
            m_connection = connect(m_configuration);
            if (m_connection && !deliver())
                return;
        }
        if (m_connection && Clock::now() >= m_nextRefresh)
            refresh();
        tidy();
    }

private:
    struct ClaimFile
    {
        std::string name;
        uid_t owner; // the pupil whose record program wrote it
        timespec made;
    };
    using Claims = std::vector<ClaimFile>;

    void disconnect()
    {
        if (m_connection)
            PQfinish(m_connection);
        m_connection = nullptr;
    }

    // A failed query on a lost connection: tried again at the next turn.
    bool lost()
    {
        if (PQstatus(m_connection) == CONNECTION_OK)
            return false;
        say(std::string("lost the lab's server: ") + PQerrorMessage(m_connection));
        disconnect();
        m_nextTry = Clock::now() + retryEvery;
        return true;
    }

    // One claim at a time, the outbox listed again after each, so that a
    // claim just made waits behind no more than the one being sent. False
    // when the server went away.
    bool deliver()
    {
        std::set<std::string> tried;
        for (;;) {
            // Each account's oldest claim; of those, the one of the account
            // served longest ago.
            const Claims claims = pending();
            const ClaimFile *next = nullptr;
            std::set<uid_t> owners;
            for (const ClaimFile &file : claims) {
                if (tried.contains(file.name) || !owners.insert(file.owner).second)
                    continue;
                if (!next || m_served[file.owner] < m_served[next->owner])
                    next = &file;
            }
            if (!next)
                return true;
            const std::string id = next->name;
            tried.insert(id);
            m_served[next->owner] = ++m_turns;
            std::optional<core::lab::Claim> claim;
            try {
                claim = core::lab::parseClaim(core::readWhole(m_outbox, id.c_str()));
            } catch (const core::Failure &) {
            }
            if (!claim || claim->id != id) {
                say("dropped the malformed claim " + id);
                ::unlinkat(m_outbox.fd(), id.c_str(), 0);
                continue;
            }
            Result result = run(m_connection,
                                "SELECT valtrino.claim($1::uuid, $2, $3::integer, "
                                "convert_from(decode($4, 'hex'), 'WIN1252'))",
                                {claim->id, claim->account, std::to_string(claim->score), hex(claim->name)});
            if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) {
                const char *state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
                const std::string_view code = state ? state : "";
                if (code != "P0001" && !code.starts_with("22")) {
                    // A timeout, the server going away: tried again later.
                    say("claim " + id + " not delivered: " + PQresultErrorMessage(result.get()));
                    lost();
                    disconnect();
                    m_nextTry = Clock::now() + retryEvery;
                    return false;
                }
                // Refused by the claim's checks: it can never be stored.
                say("the server refused claim " + id + ": " + PQresultErrorMessage(result.get()));
                ::unlinkat(m_outbox.fd(), id.c_str(), 0);
                continue;
            }
            const bool stored = std::string_view(PQgetvalue(result.get(), 0, 0)) == "stored";
            say("claim " + id + " of " + claim->account + ", " + std::to_string(claim->score) + ": "
                + (stored ? "stored" : "not higher"));
            try {
                core::lab::publish(m_verdicts, id,
                                   core::lab::verdictText(stored ? core::lab::Verdict::Stored
                                                                 : core::lab::Verdict::NotHigher),
                                   0660);
            } catch (const core::Failure &failure) {
                say("cannot write the verdict of " + id + ": " + std::strerror(failure.systemError()));
            }
            ::unlinkat(m_outbox.fd(), id.c_str(), 0);
            m_nextRefresh = Clock::now(); // the record may have changed
        }
    }

    void refresh()
    {
        Result result = run(m_connection, "SELECT score, encode(convert_to(name, 'WIN1252'), 'hex') "
                                          "FROM valtrino.current()");
        m_nextRefresh = Clock::now() + refreshEvery;
        if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) {
            if (!lost())
                say(std::string("cannot read the lab's record: ") + PQresultErrorMessage(result.get()));
            return;
        }
        const core::lab::Record record{std::atoi(PQgetvalue(result.get(), 0, 0)),
                                       unhex(PQgetvalue(result.get(), 0, 1))};
        const std::string text = core::lab::recordText(record);
        if (text == m_seen)
            return;
        try {
            core::lab::publish(m_lab, core::lab::seen, text, 0640);
            m_seen = text;
        } catch (const core::Failure &failure) {
            say(std::string("cannot write the lab's record: ") + std::strerror(failure.systemError()));
        }
    }

    // The claims in the outbox, oldest first.
    Claims pending() const { return entries(m_outbox.fd(), {}).first; }

    // Verdicts nobody collected, and claims whose writer died half-way.
    void tidy()
    {
        const auto now = Clock::now();
        if (now < m_nextTidy)
            return;
        m_nextTidy = now + verdictLife;
        for (const std::string &name : entries(m_verdicts.fd(), verdictLife).second)
            ::unlinkat(m_verdicts.fd(), name.c_str(), 0);
        for (const std::string &name : entries(m_outbox.fd(), verdictLife).second)
            if (name[0] == '.')
                ::unlinkat(m_outbox.fd(), name.c_str(), 0);
    }

    // Claim-named files by age, and all files older than age.
    static std::pair<Claims, std::vector<std::string>> entries(int directory, std::chrono::seconds age)
    {
        Claims claims;
        std::vector<std::string> old;
        const int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR *dir = listing < 0 ? nullptr : ::fdopendir(listing);
        if (!dir) {
            if (listing >= 0)
                ::close(listing);
            return {};
        }
        const time_t before = std::time(nullptr) - age.count();
        while (const dirent *entry = ::readdir(dir)) {
            struct stat info;
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || ::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (core::lab::isClaimId(name) && S_ISREG(info.st_mode))
                claims.push_back({name, info.st_uid, info.st_mtim});
            if (age.count() > 0 && info.st_mtime < before)
                old.push_back(name);
        }
        ::closedir(dir);
        const auto made = [](const ClaimFile &file) { return std::make_pair(file.made.tv_sec, file.made.tv_nsec); };
        std::sort(claims.begin(), claims.end(), [&](const ClaimFile &a, const ClaimFile &b) { return made(a) < made(b); });
        return {claims, old};
    }

    const Configuration &m_configuration;
    core::Directory m_records;
    core::Directory m_lab;
    core::Directory m_outbox;
    core::Directory m_verdicts;
    PGconn *m_connection = nullptr;
    Clock::time_point m_nextTry{};
    Clock::time_point m_nextRefresh{};
    Clock::time_point m_nextTidy{};
    // When each pupil's last claim went: a pupil who floods the outbox
    // with his own claims holds nobody else's back.
    std::map<uid_t, std::uint64_t> m_served;
    std::uint64_t m_turns = 0;
    std::string m_seen;
};

void stop(int)
{
    stopping = 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const char *configurationPath = "/etc/valtrino/lab.conf";
    if (argc == 3 && std::strcmp(argv[1], "--config") == 0) {
        configurationPath = argv[2];
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: valtrino-labd [--config FILE]\n");
        return 2;
    }
    // libpq takes defaults from PG* variables and HOME: none may reach it.
    ::clearenv();
    ::umask(007);
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action{};
    action.sa_handler = stop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);

    Configuration configuration;
    if (!readConfiguration(configurationPath, configuration))
        return 1;
    try {
        Service service(configuration);
        const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        const std::string outbox = configuration["records"] + "/" + core::lab::directory + "/" + core::lab::outbox;
        if (watch < 0 || ::inotify_add_watch(watch, outbox.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0)
            say("no inotify, polling the outbox every second");
        say("delivering the claims of " + outbox);
        while (!stopping) {
            service.work();
            pollfd ready{watch, POLLIN, 0};
            if (::poll(&ready, watch < 0 ? 0 : 1, 1000) > 0) {
                char events[4096];
                while (::read(watch, events, sizeof events) > 0) {
                }
            }
        }
    } catch (const core::Failure &failure) {
        say(configuration["records"] + ": " + std::strerror(failure.systemError()));
        return 1;
    }
    say("stopped");
    return 0;
}
