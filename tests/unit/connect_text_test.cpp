// The connect text the program connects with: SQLite's step mode added to
// a text naming that driver, on a copy, and nothing else changed.
#include <gtest/gtest.h>

#include "db/connect_text.hpp"

namespace vexil {
namespace {

TEST(ConnectText, SqliteDriverGetsStepMode) {
    EXPECT_EQ(connect_text_with_step_mode("DRIVER=SQLite3;Database=shop.db"),
              "DRIVER=SQLite3;Database=shop.db;StepAPI=1");
    EXPECT_EQ(connect_text_with_step_mode("Database=shop.db;driver={SQLite3 ODBC Driver};"),
              "Database=shop.db;driver={SQLite3 ODBC Driver};StepAPI=1");
    EXPECT_EQ(connect_text_with_step_mode(" Driver = sqlite3 "), " Driver = sqlite3 ;StepAPI=1");
}

TEST(ConnectText, StepModeSetByTheUserIsKept) {
    EXPECT_EQ(connect_text_with_step_mode("DRIVER=SQLite3;Database=a.db;StepAPI=0"),
              "DRIVER=SQLite3;Database=a.db;StepAPI=0");
    EXPECT_EQ(connect_text_with_step_mode("DRIVER=SQLite3; stepapi =1;Database=a.db"),
              "DRIVER=SQLite3; stepapi =1;Database=a.db");
}

TEST(ConnectText, OtherTextsAreUnchanged) {
    EXPECT_EQ(connect_text_with_step_mode("DRIVER=PostgreSQL ANSI;Database=sqlite"),
              "DRIVER=PostgreSQL ANSI;Database=sqlite");
    EXPECT_EQ(connect_text_with_step_mode("DSN=shop"), "DSN=shop");
    EXPECT_EQ(connect_text_with_step_mode(""), "");
    // A ";" inside braces does not end the driver's name, and a key that
    // only contains DRIVER is not the driver.
    EXPECT_EQ(connect_text_with_step_mode("DRIVER={My;Driver};Database=sqlite.db"),
              "DRIVER={My;Driver};Database=sqlite.db");
    EXPECT_EQ(connect_text_with_step_mode("XDRIVER=SQLite3;DRIVER=Other"), "XDRIVER=SQLite3;DRIVER=Other");
}

TEST(ConnectText, LongTextIsNeverCut) {
    std::string text = "DRIVER=SQLite3;Database=" + std::string(3000, 'd') + ".db";
    EXPECT_EQ(connect_text_with_step_mode(text), text + ";StepAPI=1");
}

}  // namespace
}  // namespace vexil
