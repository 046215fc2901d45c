// Reserved words as table and column names: the word list, its use by the
// SQL output, and a trial of every keyword of SQL:2016, SQLite and
// PostgreSQL against both real databases, so that the list stays exactly
// the words either database rejects bare.
#include "output/sql_reserved.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "output/sql_writer.hpp"
#include "support/databases.hpp"
#include "support/model_builder.hpp"

namespace {

using testsupport::ProgramResult;

TEST(ReservedWords, CaseInsensitiveWholeWords) {
  struct Case {
    const char* name;
    bool reserved;
  };
  const Case cases[] = {
      {"order", true},
      {"Order", true},
      {"ORDER", true},
      {"oRdEr", true},
      {"select", true},
      {"user", true},
      {"current_timestamp", true},
      {"is", true},
      {"with", true},
      {"order_id", false},
      {"orders", false},
      {"orde", false},
      {"_order", false},
      {"order$", false},
      {"order1", false},
      {"ORDER ", false},
      {"", false},
      {"o", false},
      {"id", false},
      {"name", false},
      {"date", false},
      {"\xC3\xB6rder", false},
      {"ord\0er", false},
      {"current_timestamps", false},
  };
  for (const Case& c : cases) EXPECT_EQ(sheetdump::is_reserved_word(c.name), c.reserved) << c.name;
  EXPECT_FALSE(sheetdump::is_reserved_word(std::string_view("order\0", 6)));
  for (std::string_view w : sheetdump::reserved_words()) {
    std::string upper(w);
    for (char& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(sheetdump::is_reserved_word(w)) << w;
    EXPECT_TRUE(sheetdump::is_reserved_word(upper)) << upper;
  }
}

TEST(ReservedWords, QuotedAsIdentifiers) {
  struct Case {
    const char* name;
    const char* written;
  };
  const Case cases[] = {
      {"Order", "\"Order\""},
      {"ORDER", "\"ORDER\""},
      {"order", "\"order\""},
      {"select", "\"select\""},
      {"order_id", "order_id"},
      {"Orders", "Orders"},
      {"date", "date"},
      {"", ""},
      {"order by", "\"order by\""},
  };
  for (const Case& c : cases) {
    std::string out;
    sheetdump::append_identifier(out, c.name);
    EXPECT_EQ(out, c.written) << c.name;
  }
}

TEST(ReservedWords, TableAndColumnNamesInStatements) {
  testsupport::ModelBuilder mb;
  mb.sheet("Order", 2, 3).text(0, 0, "select").text(0, 1, "order_id").text(0, 2, "User");
  mb.sheet("order_lines", 2, 1).text(0, 0, "from").text(1, 0, "x");
  sheetdump::Workbook wb = mb.build();
  char* data = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&data, &size);
  ASSERT_NE(mem, nullptr);
  {
    sheetdump::OutputStream out(mem);
    sheetdump::write_sql(wb, nullptr, sheetdump::QUOTE_ORACLE, out);
    out.flush();
  }
  std::fclose(mem);
  std::string sql(data, size);
  std::free(data);
  EXPECT_EQ(sql,
            "INSERT INTO \"Order\" (\"select\",order_id,\"User\") values (NULL,NULL,NULL);\n"
            "INSERT INTO order_lines (\"from\") values ('x');\n");
}

// ---------------------------------------------------------------------------
// The trial in the databases.

// SQL:2016 reserved words (END-EXEC, not a name, left out).
constexpr const char* kSql2016 =
    "ABS ACOS ALL ALLOCATE ALTER AND ANY ARE ARRAY ARRAY_AGG ARRAY_MAX_CARDINALITY AS ASENSITIVE "
    "ASIN ASYMMETRIC AT ATAN ATOMIC AUTHORIZATION AVG BEGIN BEGIN_FRAME BEGIN_PARTITION BETWEEN "
    "BIGINT BINARY BLOB BOOLEAN BOTH BY CALL CALLED CARDINALITY CASCADED CASE CAST CEIL CEILING "
    "CHAR CHAR_LENGTH CHARACTER CHARACTER_LENGTH CHECK CLASSIFIER CLOB CLOSE COALESCE COLLATE "
    "COLLECT COLUMN COMMIT CONDITION CONNECT CONSTRAINT CONTAINS CONVERT COPY CORR CORRESPONDING "
    "COS COSH COUNT COVAR_POP COVAR_SAMP CREATE CROSS CUBE CUME_DIST CURRENT CURRENT_CATALOG "
    "CURRENT_DATE CURRENT_DEFAULT_TRANSFORM_GROUP CURRENT_PATH CURRENT_ROLE CURRENT_ROW "
    "CURRENT_SCHEMA CURRENT_TIME CURRENT_TIMESTAMP CURRENT_TRANSFORM_GROUP_FOR_TYPE CURRENT_USER "
    "CURSOR CYCLE DATE DAY DEALLOCATE DEC DECFLOAT DECIMAL DECLARE DEFAULT DEFINE DELETE "
    "DENSE_RANK DEREF DESCRIBE DETERMINISTIC DISCONNECT DISTINCT DOUBLE DROP DYNAMIC EACH ELEMENT "
    "ELSE EMPTY END END_FRAME END_PARTITION EQUALS ESCAPE EVERY EXCEPT EXEC EXECUTE EXISTS EXP "
    "EXTERNAL EXTRACT FALSE FETCH FILTER FIRST_VALUE FLOAT FLOOR FOR FOREIGN FRAME_ROW FREE FROM "
    "FULL FUNCTION FUSION GET GLOBAL GRANT GROUP GROUPING GROUPS HAVING HOLD HOUR IDENTITY IN "
    "INDICATOR INITIAL INNER INOUT INSENSITIVE INSERT INT INTEGER INTERSECT INTERSECTION INTERVAL "
    "INTO IS JOIN JSON_ARRAY JSON_ARRAYAGG JSON_EXISTS JSON_OBJECT JSON_OBJECTAGG JSON_QUERY "
    "JSON_TABLE JSON_TABLE_PRIMITIVE JSON_VALUE LAG LANGUAGE LARGE LAST_VALUE LATERAL LEAD "
    "LEADING LEFT LIKE LIKE_REGEX LISTAGG LN LOCAL LOCALTIME LOCALTIMESTAMP LOG LOG10 LOWER MATCH "
    "MATCH_NUMBER MATCH_RECOGNIZE MATCHES MAX MEASURES MEMBER MERGE METHOD MIN MINUTE MOD "
    "MODIFIES MODULE MONTH MULTISET NATIONAL NATURAL NCHAR NCLOB NEW NO NONE NORMALIZE NOT "
    "NTH_VALUE NTILE NULL NULLIF NUMERIC OCCURRENCES_REGEX OCTET_LENGTH OF OFFSET OLD OMIT ON ONE "
    "ONLY OPEN OR ORDER OUT OUTER OVER OVERLAPS OVERLAY PARAMETER PARTITION PATTERN PER PERCENT "
    "PERCENT_RANK PERCENTILE_CONT PERCENTILE_DISC PERIOD PORTION POSITION POSITION_REGEX POWER "
    "PRECEDES PRECISION PREPARE PRIMARY PROCEDURE PTF RANGE RANK READS REAL RECURSIVE REF "
    "REFERENCES REFERENCING REGR_AVGX REGR_AVGY REGR_COUNT REGR_INTERCEPT REGR_R2 REGR_SLOPE "
    "REGR_SXX REGR_SXY REGR_SYY RELEASE RESULT RETURN RETURNS REVOKE RIGHT ROLLBACK ROLLUP ROW "
    "ROW_NUMBER ROWS RUNNING SAVEPOINT SCOPE SCROLL SEARCH SECOND SEEK SELECT SENSITIVE "
    "SESSION_USER SET SHOW SIMILAR SIN SINH SKIP SMALLINT SOME SPECIFIC SPECIFICTYPE SQL "
    "SQLEXCEPTION SQLSTATE SQLWARNING SQRT START STATIC STDDEV_POP STDDEV_SAMP SUBMULTISET SUBSET "
    "SUBSTRING SUBSTRING_REGEX SUCCEEDS SUM SYMMETRIC SYSTEM SYSTEM_TIME SYSTEM_USER TABLE "
    "TABLESAMPLE TAN TANH THEN TIME TIMESTAMP TIMEZONE_HOUR TIMEZONE_MINUTE TO TRAILING TRANSLATE "
    "TRANSLATE_REGEX TRANSLATION TREAT TRIGGER TRIM TRIM_ARRAY TRUE TRUNCATE UESCAPE UNION UNIQUE "
    "UNKNOWN UNNEST UPDATE UPPER USER USING VALUE VALUES VALUE_OF VAR_POP VAR_SAMP VARBINARY "
    "VARCHAR VARYING VERSIONING WHEN WHENEVER WHERE WIDTH_BUCKET WINDOW WITH WITHIN WITHOUT YEAR";

// SQLite's keywords (sqlite3_keyword_name of 3.40; the command line tool
// cannot list them).
constexpr const char* kSqlite =
    "ABORT ACTION ADD AFTER ALL ALTER ALWAYS ANALYZE AND AS ASC ATTACH AUTOINCREMENT BEFORE BEGIN "
    "BETWEEN BY CASCADE CASE CAST CHECK COLLATE COLUMN COMMIT CONFLICT CONSTRAINT CREATE CROSS "
    "CURRENT CURRENT_DATE CURRENT_TIME CURRENT_TIMESTAMP DATABASE DEFAULT DEFERRABLE DEFERRED "
    "DELETE DESC DETACH DISTINCT DO DROP EACH ELSE END ESCAPE EXCEPT EXCLUDE EXCLUSIVE EXISTS "
    "EXPLAIN FAIL FILTER FIRST FOLLOWING FOR FOREIGN FROM FULL GENERATED GLOB GROUP GROUPS HAVING "
    "IF IGNORE IMMEDIATE IN INDEX INDEXED INITIALLY INNER INSERT INSTEAD INTERSECT INTO IS ISNULL "
    "JOIN KEY LAST LEFT LIKE LIMIT MATCH MATERIALIZED NATURAL NO NOT NOTHING NOTNULL NULL NULLS "
    "OF OFFSET ON OR ORDER OTHERS OUTER OVER PARTITION PLAN PRAGMA PRECEDING PRIMARY QUERY RAISE "
    "RANGE RECURSIVE REFERENCES REGEXP REINDEX RELEASE RENAME REPLACE RESTRICT RETURNING RIGHT "
    "ROLLBACK ROW ROWS SAVEPOINT SELECT SET TABLE TEMP TEMPORARY THEN TIES TO TRANSACTION TRIGGER "
    "UNBOUNDED UNION UNIQUE UPDATE USING VACUUM VALUES VIEW VIRTUAL WHEN WHERE WINDOW WITH "
    "WITHOUT";

void add_words(std::set<std::string>& to, std::string_view text) {
  std::istringstream in{std::string(text)};
  for (std::string w; in >> w;) {
    for (char& c : w) c = char(std::tolower(static_cast<unsigned char>(c)));
    to.insert(w);
  }
}

constexpr const char* kLog = "sheetdump_probe_log";

// A script that tries each word as a table name and as a column name (of
// type TEXT and of type int) in the statements the output writes, and
// notes in the log table each try whose row can be read back through the
// quoted name: "T i" for the table, "C i" and "D i" for the columns.
// `written` gives each word as it goes into the statements. In one
// transaction (SQLite: much faster; a failing statement undoes only itself)
// or a statement at a time (PostgreSQL: faster than thousands of
// savepoints).
std::string trial_script(const std::vector<std::string>& words,
                         const std::vector<std::string>& written, bool one_transaction) {
  std::string s = one_transaction ? "BEGIN;\n" : "";
  s += std::string("CREATE TABLE ") + kLog + " (k TEXT);\n";
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string n = std::to_string(i), w = written[i], q = "\"" + words[i] + "\"";
    s += "CREATE TABLE " + w + " (x TEXT);\n";
    s += "INSERT INTO " + w + " (x) values ('1');\n";
    s += std::string("INSERT INTO ") + kLog + " SELECT 'T " + n + "' FROM " + q +
         " WHERE x = '1';\n";
    for (const char* kind : {"C", "D"}) {
      std::string t = std::string(kind) + "_" + n;
      s += "CREATE TABLE " + t + " (" + w + (kind[0] == 'C' ? " TEXT" : " int") + ");\n";
      s += "INSERT INTO " + t + " (" + w + ") values ('1');\n";
      s += std::string("INSERT INTO ") + kLog + " SELECT '" + kind + " " + n + "' FROM " + t +
           " WHERE " + q + " = '1';\n";
    }
  }
  return one_transaction ? s + "COMMIT;\n" : s;
}

// Which words passed all three tries, by index.
std::vector<bool> passed(const std::string& log, size_t count) {
  std::vector<int> tries(count, 0);
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    size_t sp = line.find(' ');
    if (sp == std::string::npos) continue;
    size_t i = std::stoul(line.substr(sp + 1));
    if (i < count) ++tries[i];
  }
  std::vector<bool> ok(count);
  for (size_t i = 0; i < count; ++i) ok[i] = tries[i] == 3;
  return ok;
}

class ReservedWordsInDatabases : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster_ = testsupport::shared_postgres(why_not_); }
  void SetUp() override {
    if (testsupport::sqlite3_tool().empty())
      GTEST_SKIP() << "the sqlite3 command line tool is not installed";
    if (!cluster_) GTEST_SKIP() << "no PostgreSQL server: " << why_not_;
    ASSERT_FALSE(dir_.path().empty());
  }

  // Runs the trial in a fresh database of each kind; per word, whether it
  // passed in SQLite and in PostgreSQL.
  void trial(const std::vector<std::string>& words, const std::vector<std::string>& written,
             std::vector<bool>& sqlite_ok, std::vector<bool>& pg_ok) {
    const std::string script = dir_.write("trial.sql", trial_script(words, written, true));
    const std::string file = dir_.path() + "/trial" + std::to_string(n_) + ".sqlite";
    testsupport::run_sqlite_file_keep_going(file, script);
    ProgramResult log = testsupport::run_sqlite(file, {std::string("SELECT k FROM ") + kLog + ";"});
    ASSERT_EQ(log.status, 0) << log.err;
    sqlite_ok = passed(log.out, words.size());

    const std::string db = "reserved" + std::to_string(n_++);
    ProgramResult made = cluster_->create_database(db);
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string pg_script = dir_.write("trial_pg.sql", trial_script(words, written, false));
    cluster_->run_script(db, pg_script, false);
    log = cluster_->run_command(db, std::string("SELECT k FROM ") + kLog);
    ASSERT_EQ(log.status, 0) << log.err;
    pg_ok = passed(log.out, words.size());
    cluster_->run_command("postgres", "DROP DATABASE " + db);
  }

  static const testsupport::PostgresCluster* cluster_;
  static std::string why_not_;
  testsupport::TempDir dir_{"sheetdump-words-"};
  int n_ = 0;
};

const testsupport::PostgresCluster* ReservedWordsInDatabases::cluster_ = nullptr;
std::string ReservedWordsInDatabases::why_not_;

// Listed words are rejected bare by at least one database and load when
// written as the output writes them; every other keyword loads bare in
// both.
TEST_F(ReservedWordsInDatabases, ListIsExactlyTheRejectedKeywords) {
  std::set<std::string> candidates;
  add_words(candidates, kSql2016);
  add_words(candidates, kSqlite);
  ProgramResult pg_words = cluster_->run_command("postgres", "SELECT word FROM pg_get_keywords()");
  ASSERT_EQ(pg_words.status, 0) << pg_words.err;
  size_t before = candidates.size();
  add_words(candidates, pg_words.out);
  ASSERT_GT(candidates.size(), before + 100) << "PostgreSQL listed too few keywords";
  for (std::string_view w : sheetdump::reserved_words())
    EXPECT_TRUE(candidates.count(std::string(w))) << w << " is listed but is no keyword";

  std::vector<std::string> words(candidates.begin(), candidates.end());
  std::vector<std::string> listed_words, written;
  for (const std::string& w : words) {
    std::string out;
    sheetdump::append_identifier(out, w);
    EXPECT_EQ(out == w, !sheetdump::is_reserved_word(w)) << w;
    if (out != w) {
      listed_words.push_back(w);
      written.push_back(out);
    }
  }

  // The listed words as the output writes them (quoted) load in both; the
  // others are written bare, which the trial below covers.
  std::vector<bool> sqlite_ok, pg_ok;
  trial(listed_words, written, sqlite_ok, pg_ok);
  if (HasFatalFailure()) return;
  for (size_t i = 0; i < listed_words.size(); ++i) {
    EXPECT_TRUE(sqlite_ok[i]) << "SQLite rejects " << written[i];
    EXPECT_TRUE(pg_ok[i]) << "PostgreSQL rejects " << written[i];
  }

  // Bare: the listed words fail somewhere, the others nowhere.
  trial(words, words, sqlite_ok, pg_ok);
  if (HasFatalFailure()) return;
  int listed = 0;
  for (size_t i = 0; i < words.size(); ++i) {
    bool reserved = sheetdump::is_reserved_word(words[i]);
    listed += reserved;
    EXPECT_EQ(!(sqlite_ok[i] && pg_ok[i]), reserved)
        << words[i] << ": bare in SQLite " << (sqlite_ok[i] ? "loads" : "fails")
        << ", in PostgreSQL " << (pg_ok[i] ? "loads" : "fails");
  }
  EXPECT_EQ(size_t(listed), sheetdump::reserved_words().size());
  ::testing::Test::RecordProperty("candidates", int(words.size()));
  ::testing::Test::RecordProperty("reserved", listed);
}

}  // namespace
