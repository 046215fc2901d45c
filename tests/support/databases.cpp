#include "support/databases.hpp"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;

namespace {

bool is_executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string first_executable(const std::vector<std::string>& candidates) {
  for (const auto& c : candidates)
    if (is_executable(c)) return c;
  return "";
}

// The newest installed server's binary directory, or empty.
std::string postgres_bin_dir() {
  std::error_code ec;
  std::string best;
  int best_version = -1;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    std::string bin = entry.path().string() + "/bin";
    if (!is_executable(bin + "/initdb") || !is_executable(bin + "/pg_ctl") ||
        !is_executable(bin + "/psql"))
      continue;
    int version = std::atoi(entry.path().filename().c_str());
    if (version > best_version) {
      best_version = version;
      best = bin;
    }
  }
  return best;
}

std::string tail(const std::string& text, size_t n = 2000) {
  return text.size() <= n ? text : "..." + text.substr(text.size() - n);
}

std::string read_file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A private port: the server listens on no TCP address, only on a socket in
// its own directory, so the number merely names the socket file.
constexpr const char* kPort = "54329";

}  // namespace

TempDir::TempDir(const std::string& prefix) {
  std::error_code ec;
  std::string pattern = (fs::temp_directory_path(ec) / (prefix + "XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) != nullptr) path_ = buf.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& text) const {
  std::string file = path_ + "/" + name;
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(text.data(), std::streamsize(text.size()));
  return file;
}

std::string sqlite3_tool() {
  return first_executable({"/usr/bin/sqlite3", "/usr/local/bin/sqlite3"});
}

ProgramResult run_sqlite(const std::string& database, const std::vector<std::string>& pieces) {
  // Linux takes up to 128 KiB per argument and 2 MiB for all of them.
  constexpr size_t kArgument = 120 * 1024, kRun = 1024 * 1024;
  ProgramResult all;
  all.status = 0;
  size_t next = 0;
  while (next < pieces.size()) {
    // Without a sync after every statement a large load takes seconds, not
    // minutes.
    std::vector<std::string> args = {"-bail", "-batch", database, "PRAGMA synchronous = OFF;",
                                     "BEGIN;"};
    size_t total = 0;
    std::string arg;
    for (; next < pieces.size(); ++next) {
      const std::string& piece = pieces[next];
      if (piece.size() > kArgument) {
        all.status = 1;
        all.err += "a statement of " + std::to_string(piece.size()) +
                   " bytes is too long for a command line argument\n";
        return all;
      }
      if (total + arg.size() + piece.size() > kRun) break;
      if (arg.size() + piece.size() > kArgument) {
        total += arg.size();
        args.push_back(std::move(arg));
        arg.clear();
      }
      arg += piece;
    }
    if (!arg.empty()) args.push_back(std::move(arg));
    args.push_back("COMMIT;");
    ProgramResult r = run_program(sqlite3_tool(), args);
    all.out += r.out;
    all.err += r.err;
    if (r.status != 0) {
      all.status = r.status;
      all.signal = r.signal;
      return all;
    }
  }
  return all;
}

ProgramResult run_sqlite_file_keep_going(const std::string& database, const std::string& script) {
  // .read goes on after a failing statement unless -bail is given, but
  // the tool then stops before any further argument.
  return run_program(sqlite3_tool(),
                     {"-batch", database, "PRAGMA synchronous = OFF;", ".read '" + script + "'"});
}

std::unique_ptr<PostgresCluster> PostgresCluster::start(std::string& why) {
  std::unique_ptr<PostgresCluster> pg(new PostgresCluster());
  pg->bin_ = postgres_bin_dir();
  if (pg->bin_.empty()) {
    why =
        "PostgreSQL server binaries (initdb, pg_ctl, psql) not installed under /usr/lib/postgresql";
    return nullptr;
  }
  struct passwd* owner = nullptr;
  if (geteuid() == 0) {
    owner = getpwnam("postgres");
    if (owner == nullptr) {
      why = "running as root and there is no postgres user to run the server";
      return nullptr;
    }
    if (!is_executable("/usr/sbin/runuser") && !is_executable("/sbin/runuser")) {
      why = "running as root and runuser is not available";
      return nullptr;
    }
    pg->as_user_ = "postgres";
  }
  pg->dir_ = std::make_unique<TempDir>("sheetdump-pg-");
  const std::string& dir = pg->dir_->path();
  if (dir.empty()) {
    why = "could not make a temporary directory";
    return nullptr;
  }
  if (owner != nullptr && chown(dir.c_str(), owner->pw_uid, owner->pw_gid) != 0) {
    why = "could not give the temporary directory to the postgres user";
    return nullptr;
  }

  ProgramResult init = pg->run_server_tool({pg->bin_ + "/initdb", "-D", dir + "/data", "-E", "UTF8",
                                            "--locale=C", "-A", "trust", "-U", "postgres", "-N"});
  if (init.status != 0) {
    why = "initdb failed: " + tail(init.out + init.err);
    return nullptr;
  }
  ProgramResult started = pg->run_server_tool(
      {pg->bin_ + "/pg_ctl", "-D", dir + "/data", "-l", dir + "/server.log", "-w", "-t", "60", "-o",
       std::string("-k ") + dir + " -p " + kPort +
           " -c listen_addresses='' -c fsync=off -c full_page_writes=off"
           " -c synchronous_commit=off",
       "start"});
  if (started.status != 0) {
    why = "pg_ctl start failed: " + tail(started.out + started.err) +
          "\nserver log: " + tail(read_file_text(dir + "/server.log"));
    pg->running_ = true;  // stop whatever may have come up
    return nullptr;
  }
  pg->running_ = true;
  ProgramResult ping = pg->run_command("postgres", "SELECT 1");
  if (ping.status != 0) {
    why = "the server started but psql cannot connect: " + tail(ping.err);
    return nullptr;
  }
  return pg;
}

PostgresCluster::~PostgresCluster() {
  if (running_ && dir_)
    run_server_tool({bin_ + "/pg_ctl", "-D", dir_->path() + "/data", "-m", "fast", "-w", "stop"});
}

ProgramResult PostgresCluster::run_server_tool(const std::vector<std::string>& command) const {
  std::string cwd = dir_ ? dir_->path() : "";
  if (as_user_.empty()) {
    std::vector<std::string> args(command.begin() + 1, command.end());
    return run_program(command[0], args, "", cwd);
  }
  std::vector<std::string> args = {"-u", as_user_, "--"};
  args.insert(args.end(), command.begin(), command.end());
  return run_program(first_executable({"/usr/sbin/runuser", "/sbin/runuser"}), args, "", cwd);
}

ProgramResult PostgresCluster::create_database(const std::string& database) const {
  return run_command("postgres", "CREATE DATABASE " + database +
                                     " TEMPLATE template0 ENCODING 'UTF8' LC_COLLATE 'C'"
                                     " LC_CTYPE 'C'");
}

ProgramResult PostgresCluster::run_script(const std::string& database, const std::string& script,
                                          bool stop_on_error) const {
  return run_program(
      bin_ + "/psql",
      {"-X", "-q", "-v", stop_on_error ? "ON_ERROR_STOP=1" : "ON_ERROR_ROLLBACK=on", "-A", "-t",
       "-F", "|", "-h", dir_->path(), "-p", kPort, "-U", "postgres", "-d", database, "-f", script});
}

namespace {

// The shared cluster and why it is missing; the environment below stops it
// after the last test.
struct SharedCluster {
  bool tried = false;
  std::unique_ptr<PostgresCluster> cluster;
  std::string why;
};

SharedCluster& shared_cluster() {
  static SharedCluster shared;
  return shared;
}

class StopSharedCluster : public ::testing::Environment {
 public:
  void TearDown() override { shared_cluster().cluster.reset(); }
};

// Registered before main runs the tests; the framework owns it.
[[maybe_unused]] const ::testing::Environment* const kStopSharedCluster =
    ::testing::AddGlobalTestEnvironment(new StopSharedCluster);

}  // namespace

const PostgresCluster* shared_postgres(std::string& why) {
  SharedCluster& shared = shared_cluster();
  if (!shared.tried) {
    shared.tried = true;
    shared.cluster = PostgresCluster::start(shared.why);
  }
  why = shared.why;
  return shared.cluster.get();
}

ProgramResult PostgresCluster::run_command(const std::string& database,
                                           const std::string& command) const {
  return run_program(bin_ + "/psql",
                     {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-A", "-t", "-h", dir_->path(), "-p",
                      kPort, "-U", "postgres", "-d", database, "-c", command});
}

}  // namespace testsupport
