// Real databases for end-to-end tests of the SQL output: SQLite through its
// command line tool, and a scratch PostgreSQL cluster that lives for as long
// as the object that started it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace testsupport {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }  // empty when it could not be made
  // Writes `text` to a file in the directory and returns its path.
  std::string write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

// The sqlite3 command line tool, or empty when it is not installed.
std::string sqlite3_tool();

// Runs SQL against the database file with -bail, so that the first failing
// statement ends the run with a non-zero status. Each piece holds whole
// statements. The pieces go to the tool as command line arguments, several
// runs if need be: the tool's script reader drops a carriage return before
// a line feed, even inside a string literal, and arguments are executed as
// they are. A piece longer than an argument may be makes the run fail.
// Each run is one transaction, so that a large load takes seconds, not
// minutes; a statement in the pieces that ends the transaction makes the
// closing COMMIT fail.
ProgramResult run_sqlite(const std::string& database, const std::vector<std::string>& pieces);

// Runs the SQL file against the database file, going on past statements
// that fail; inside a transaction a failing statement is undone by itself,
// and the transaction goes on.
ProgramResult run_sqlite_file_keep_going(const std::string& database, const std::string& script);

// A PostgreSQL cluster on a private socket directory and port, initialised
// and started by start() and stopped by the destructor. The server refuses
// to run as root, so under root it runs as the `postgres` user.
class PostgresCluster {
 public:
  // Starts a cluster; none, with the reason in `why`, when the server is not
  // installed or does not start.
  static std::unique_ptr<PostgresCluster> start(std::string& why);
  ~PostgresCluster();
  PostgresCluster(const PostgresCluster&) = delete;
  PostgresCluster& operator=(const PostgresCluster&) = delete;

  // Makes a database that stores texts as UTF-8 (so that invalid UTF-8 is
  // rejected), with the byte-wise C collation.
  ProgramResult create_database(const std::string& database) const;

  // Runs psql with -X -q -v ON_ERROR_STOP=1 against `database`, reading
  // `script` (a file). Query results come unaligned, tuples only, fields
  // separated by '|'. Without `stop_on_error` psql goes on past a failing
  // statement (and inside a transaction undoes only that statement).
  ProgramResult run_script(const std::string& database, const std::string& script,
                           bool stop_on_error = true) const;
  // Runs one command with psql -c against `database`.
  ProgramResult run_command(const std::string& database, const std::string& command) const;

 private:
  PostgresCluster() = default;
  std::string bin_;      // directory of initdb, pg_ctl and psql
  std::string as_user_;  // "postgres" when the server runs as another user, else empty
  std::unique_ptr<TempDir> dir_;
  bool running_ = false;
  ProgramResult run_server_tool(const std::vector<std::string>& command) const;
};

// One cluster for the whole test program, started by the first call and
// stopped when the last test has run; none (with the reason in `why`) when
// it cannot start. Suites that need a server share it instead of paying for
// a start and a stop each.
const PostgresCluster* shared_postgres(std::string& why);

}  // namespace testsupport
