/* The ODBC floor of the benchmarks: what a program that only connects
 * through the driver manager, runs one query and prints its rows as HTML
 * costs, with no template. vexil's time is compared against it.
 *
 *   odbc_floor CONNECT_TEXT QUERY page    the 20-row CGI page: header,
 *                                         <HTML><BODY><TABLE>, rows, end
 *   odbc_floor CONNECT_TEXT QUERY table   what <!--TABLE BORDER--> writes
 *
 * Rows are <TR><TD>value</TD>...</TR> lines, each column bound as text of
 * up to 255 characters.
 */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <string.h>

#define MAX_COLUMNS 16

int main(int argc, char **argv) {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    SQLCHAR cell[MAX_COLUMNS][256];
    SQLLEN length[MAX_COLUMNS];
    SQLSMALLINT columns = 0;
    if (argc < 4) {
        fprintf(stderr, "usage: odbc_floor CONNECT_TEXT QUERY page|table\n");
        return 2;
    }
    int page = strcmp(argv[3], "page") == 0;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (void *)SQL_OV_ODBC3, 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, NULL, (SQLCHAR *)argv[1], SQL_NTS, NULL, 0, NULL,
                                        SQL_DRIVER_NOPROMPT)))
        return 1;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, (SQLCHAR *)argv[2], SQL_NTS))) return 1;
    SQLNumResultCols(stmt, &columns);
    if (columns > MAX_COLUMNS) return 1;
    if (page) {
        fputs("Content-Type: text/html; charset=utf-8\n\n<HTML><BODY><TABLE>\n", stdout);
    } else {
        /* The heading: each name with its first letter in capitals. */
        fputs("<TABLE BORDER><TR>", stdout);
        for (SQLSMALLINT i = 0; i < columns; i++) {
            SQLCHAR name[64];
            SQLSMALLINT name_length, type, scale, nullable;
            SQLULEN size;
            SQLDescribeCol(stmt, (SQLUSMALLINT)(i + 1), name, sizeof name, &name_length, &type, &size, &scale,
                           &nullable);
            if (name[0] >= 'a' && name[0] <= 'z') name[0] = (SQLCHAR)(name[0] - 'a' + 'A');
            printf("<TH>%s</TH>", (const char *)name);
        }
        fputs("</TR>\n", stdout);
    }
    for (SQLSMALLINT i = 0; i < columns; i++)
        SQLBindCol(stmt, (SQLUSMALLINT)(i + 1), SQL_C_CHAR, cell[i], sizeof cell[i], &length[i]);
    while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        fputs("<TR>", stdout);
        for (SQLSMALLINT i = 0; i < columns; i++) {
            fputs("<TD>", stdout);
            fputs((const char *)cell[i], stdout);
            fputs("</TD>", stdout);
        }
        fputs("</TR>\n", stdout);
    }
    fputs(page ? "</TABLE></BODY></HTML>\n" : "</TABLE>\n", stdout);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return 0;
}
