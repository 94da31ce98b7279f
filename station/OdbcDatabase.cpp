// The database connection over ODBC: the one file that includes ODBC's headers. The wide (W)
// calls throughout, on Windows as on Linux: wine's odbc32 lacks the A calls, and only UTF-16
// carries every text the records hold.
#ifdef _WIN32
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#endif
#include "station/Database.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdio>

namespace station {

namespace {

using WideText = std::basic_string<SQLWCHAR>;

WideText Utf16(const std::string& text) {
    WideText out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
        unsigned long code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 7;
        bool whole = extra >= 0 && i + size_t(extra) < text.size() + (extra == 0 ? 1 : 0);
        for (int k = 1; whole && k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + size_t(k)]);
            whole = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!whole) code = 0xFFFD;
        i += whole ? size_t(extra) + 1 : 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += SQLWCHAR(0xD800 + (code >> 10));
            out += SQLWCHAR(0xDC00 + (code & 0x3FF));
        } else {
            out += SQLWCHAR(code);
        }
    }
    return out;
}

std::string Utf8(const SQLWCHAR* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        unsigned long code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}

bool Good(SQLRETURN result) {
    return result == SQL_SUCCESS || result == SQL_SUCCESS_WITH_INFO;
}

// "2026-12-09T10:00:00.123Z" as ODBC's timestamp.
SQL_TIMESTAMP_STRUCT TimestampOf(const std::string& text) {
    SQL_TIMESTAMP_STRUCT t{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millis = 0;
    std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d", &year, &month, &day, &hour, &minute,
                &second, &millis);
    t.year = SQLSMALLINT(year);
    t.month = SQLUSMALLINT(month);
    t.day = SQLUSMALLINT(day);
    t.hour = SQLUSMALLINT(hour);
    t.minute = SQLUSMALLINT(minute);
    t.second = SQLUSMALLINT(second);
    t.fraction = SQLUINTEGER(millis) * 1000000u;
    return t;
}

// The bound forms of the values: they must stay where they are until the statement ran.
struct Bound {
    std::vector<WideText> Texts;
    std::vector<SQL_TIMESTAMP_STRUCT> Times;
    std::vector<SQLBIGINT> Integers;
    std::vector<double> Reals;
    std::vector<unsigned char> Bits;
    std::vector<SQLLEN> Lengths;
};

} // namespace

struct Database::Impl {
    SQLHENV Env = SQL_NULL_HENV;
    SQLHDBC Dbc = SQL_NULL_HDBC;
    SQLHSTMT Prepared = SQL_NULL_HSTMT;
    bool Connected = false;
    std::string Dbms, Password;

    // Every diagnostic of the handle, the password taken out wherever a driver repeats it.
    void Fail(SQLSMALLINT type, SQLHANDLE handle, DbError& error) const {
        error = DbError{};
        SQLWCHAR state[6] = {};
        SQLWCHAR text[1024];
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        for (SQLSMALLINT i = 1;
             Good(SQLGetDiagRecW(type, handle, i, state, &native, text,
                                 SQLSMALLINT(sizeof text / sizeof *text), &length));
             ++i) {
            // A warning (01...) may come first, as unixODBC's "Can't open lib" before IM002.
            const std::string code = Utf8(state, 5);
            if (error.State.empty() || error.State.rfind("01", 0) == 0) error.State = code;
            error.KeyTaken = error.KeyTaken || code.rfind("23", 0) == 0 || native == 19;
            if (!error.Message.empty()) error.Message += "; ";
            error.Message += Utf8(text, size_t(std::min<SQLSMALLINT>(length, 1023)));
        }
        if (error.Message.empty()) error.Message = "the database call failed";
        error.Message = HidePassword(std::move(error.Message), Password);
    }

    bool BindAll(SQLHSTMT statement, const std::vector<DbValue>& values, Bound& bound,
                 DbError& error) const;
    void DropPrepared() {
        if (Prepared != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, Prepared);
        Prepared = SQL_NULL_HSTMT;
    }
};

bool Database::Impl::BindAll(SQLHSTMT statement, const std::vector<DbValue>& values, Bound& bound,
                             DbError& error) const {
    const size_t n = values.size();
    bound.Texts.resize(n);
    bound.Times.resize(n);
    bound.Integers.resize(n);
    bound.Reals.resize(n);
    bound.Bits.resize(n);
    bound.Lengths.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const DbValue& v = values[i];
        const SQLUSMALLINT number = SQLUSMALLINT(i + 1);
        SQLRETURN result = SQL_ERROR;
        switch (v.Type) {
        case DbValue::Kind::Null:
        case DbValue::Kind::Text: {
            bound.Texts[i] = Utf16(v.Text);
            const SQLULEN chars = std::max<SQLULEN>(bound.Texts[i].size(), 1);
            bound.Lengths[i] = v.Type == DbValue::Kind::Null
                                   ? SQL_NULL_DATA
                                   : SQLLEN(bound.Texts[i].size() * sizeof(SQLWCHAR));
            bound.Texts[i].push_back(0);
            result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                      chars > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, chars, 0,
                                      bound.Texts[i].data(), 0, &bound.Lengths[i]);
            break;
        }
        case DbValue::Kind::Integer:
            bound.Integers[i] = SQLBIGINT(v.Integer);
            result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_SBIGINT,
                                      SQL_INTEGER, 0, 0, &bound.Integers[i], 0, nullptr);
            break;
        case DbValue::Kind::Real:
            bound.Reals[i] = v.Number;
            result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE,
                                      0, 0, &bound.Reals[i], 0, nullptr);
            break;
        case DbValue::Kind::Bool:
            bound.Bits[i] = v.Integer ? 1 : 0;
            result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 0, 0,
                                      &bound.Bits[i], 0, nullptr);
            break;
        case DbValue::Kind::Time:
            bound.Times[i] = TimestampOf(v.Text);
            result = SQLBindParameter(statement, number, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                      SQL_TYPE_TIMESTAMP, 23, 3, &bound.Times[i], 0, nullptr);
            break;
        }
        if (!Good(result)) {
            Fail(SQL_HANDLE_STMT, statement, error);
            return false;
        }
    }
    return true;
}

Database::Database() : impl_(std::make_unique<Impl>()) {}

Database::~Database() {
    Disconnect();
}

bool Database::Connect(const std::string& connection, int timeoutSeconds, DbError& error) {
    Disconnect();
    Impl& d = *impl_;
    d.Password = ConnectionPassword(connection);
    if (!Good(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &d.Env)) ||
        !Good(SQLSetEnvAttr(d.Env, SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !Good(SQLAllocHandle(SQL_HANDLE_DBC, d.Env, &d.Dbc))) {
        error = DbError{"", "the ODBC driver manager cannot be used"};
        Disconnect();
        return false;
    }
    SQLSetConnectAttrW(d.Dbc, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeoutSeconds)), 0);
    WideText in = Utf16(connection);
    in.push_back(0);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    if (!Good(SQLDriverConnectW(d.Dbc, nullptr, in.data(), SQL_NTS, out, 1024, &outLength,
                                SQL_DRIVER_NOPROMPT))) {
        d.Fail(SQL_HANDLE_DBC, d.Dbc, error);
        Disconnect();
        return false;
    }
    d.Connected = true;
    SQLWCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    if (Good(SQLGetInfoW(d.Dbc, SQL_DBMS_NAME, name, sizeof name, &nameLength)))
        d.Dbms = Utf8(name, size_t(nameLength) / sizeof(SQLWCHAR));
    return true;
}

void Database::Disconnect() {
    Impl& d = *impl_;
    d.DropPrepared();
    if (d.Dbc != SQL_NULL_HDBC) {
        if (d.Connected) SQLDisconnect(d.Dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, d.Dbc);
    }
    if (d.Env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, d.Env);
    d.Dbc = SQL_NULL_HDBC;
    d.Env = SQL_NULL_HENV;
    d.Connected = false;
    d.Dbms.clear();
}

bool Database::IsConnected() const {
    return impl_->Connected;
}

const std::string& Database::DbmsName() const {
    return impl_->Dbms;
}

bool Database::SetAutoCommit(bool on, DbError& error) {
    const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
    if (Good(SQLSetConnectAttrW(impl_->Dbc, SQL_ATTR_AUTOCOMMIT,
                                reinterpret_cast<SQLPOINTER>(value), 0)))
        return true;
    impl_->Fail(SQL_HANDLE_DBC, impl_->Dbc, error);
    return false;
}

bool Database::Commit(DbError& error) {
    if (Good(SQLEndTran(SQL_HANDLE_DBC, impl_->Dbc, SQL_COMMIT))) return true;
    impl_->Fail(SQL_HANDLE_DBC, impl_->Dbc, error);
    return false;
}

void Database::Rollback() {
    SQLEndTran(SQL_HANDLE_DBC, impl_->Dbc, SQL_ROLLBACK);
}

bool Database::Execute(const std::string& sql, DbError& error) {
    std::vector<DbRow> ignored;
    return Query(sql, {}, ignored, error);
}

bool Database::Prepare(const std::string& sql, DbError& error) {
    Impl& d = *impl_;
    d.DropPrepared();
    if (!Good(SQLAllocHandle(SQL_HANDLE_STMT, d.Dbc, &d.Prepared))) {
        d.Fail(SQL_HANDLE_DBC, d.Dbc, error);
        d.Prepared = SQL_NULL_HSTMT;
        return false;
    }
    WideText text = Utf16(sql);
    text.push_back(0);
    if (Good(SQLPrepareW(d.Prepared, text.data(), SQL_NTS))) return true;
    d.Fail(SQL_HANDLE_STMT, d.Prepared, error);
    d.DropPrepared();
    return false;
}

bool Database::Run(const std::vector<DbValue>& values, long long& rows, DbError& error) {
    Impl& d = *impl_;
    if (d.Prepared == SQL_NULL_HSTMT) {
        error = DbError{"", "no statement prepared"};
        return false;
    }
    Bound bound;
    SQLFreeStmt(d.Prepared, SQL_RESET_PARAMS);
    if (!d.BindAll(d.Prepared, values, bound, error)) return false;
    const SQLRETURN result = SQLExecute(d.Prepared);
    if (!Good(result) && result != SQL_NO_DATA) {
        d.Fail(SQL_HANDLE_STMT, d.Prepared, error);
        SQLFreeStmt(d.Prepared, SQL_CLOSE);
        return false;
    }
    SQLLEN count = 0;
    SQLRowCount(d.Prepared, &count);
    rows = count;
    SQLFreeStmt(d.Prepared, SQL_CLOSE);
    return true;
}

namespace {

// Every column of the current row as text.
bool FetchRow(SQLHSTMT statement, SQLSMALLINT columns, DbRow& row) {
    row.assign(size_t(columns), std::nullopt);
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
        WideText text;
        SQLWCHAR chunk[1024];
        for (;;) {
            SQLLEN length = 0;
            const SQLRETURN result =
                SQLGetData(statement, SQLUSMALLINT(c), SQL_C_WCHAR, chunk, sizeof chunk, &length);
            if (result == SQL_NO_DATA) break;
            if (!Good(result)) return false;
            if (length == SQL_NULL_DATA) break;
            const size_t room = sizeof chunk / sizeof *chunk - 1;
            const size_t got = length == SQL_NO_TOTAL || size_t(length) / sizeof(SQLWCHAR) > room
                                   ? room
                                   : size_t(length) / sizeof(SQLWCHAR);
            text.append(chunk, got);
            row[size_t(c - 1)] = std::string();
            if (result == SQL_SUCCESS) break;
        }
        if (row[size_t(c - 1)]) row[size_t(c - 1)] = Utf8(text.data(), text.size());
    }
    return true;
}

} // namespace

bool Database::Query(const std::string& sql, const std::vector<DbValue>& values,
                     std::vector<DbRow>& rows, DbError& error) {
    Impl& d = *impl_;
    rows.clear();
    SQLHSTMT statement = SQL_NULL_HSTMT;
    if (!Good(SQLAllocHandle(SQL_HANDLE_STMT, d.Dbc, &statement))) {
        d.Fail(SQL_HANDLE_DBC, d.Dbc, error);
        return false;
    }
    Bound bound;
    WideText text = Utf16(sql);
    text.push_back(0);
    bool ok = d.BindAll(statement, values, bound, error);
    if (ok) {
        const SQLRETURN result = SQLExecDirectW(statement, text.data(), SQL_NTS);
        ok = Good(result) || result == SQL_NO_DATA;
        if (!ok) d.Fail(SQL_HANDLE_STMT, statement, error);
    }
    SQLSMALLINT columns = 0;
    if (ok) SQLNumResultCols(statement, &columns);
    while (ok && columns > 0) {
        const SQLRETURN fetched = SQLFetch(statement);
        if (fetched == SQL_NO_DATA) break;
        DbRow row;
        ok = Good(fetched) && FetchRow(statement, columns, row);
        if (!ok)
            d.Fail(SQL_HANDLE_STMT, statement, error);
        else
            rows.push_back(std::move(row));
    }
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return ok;
}

} // namespace station
