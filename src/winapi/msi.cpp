/*
 * Windows Installer database access of the stand-in over libmsi: databases, views
 * and records behind MSIHANDLE numbers of their own. See wa_msi.h.
 */
#include "winapi/wa_private.h"

#include <libmsi.h>

#include <string.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

/* libmsi and the structured-storage library under it report every file they cannot
 * open on stderr; msi.dll says it through the result code alone. */
void SilenceLibraryWarnings() {
    static std::once_flag once;
    std::call_once(once, [] {
        const GLogLevelFlags levels =
            static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_MESSAGE);
        const auto drop = [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {};
        for (const char *domain : {static_cast<const char *>(nullptr), "libmsi", "libgsf:msole", "GLib-GObject"})
            g_log_set_handler(domain, levels, drop, nullptr);
    });
}

/* Owns one GObject reference. */
template <typename T>
struct GRef {
    T *object = nullptr;
    GRef() = default;
    explicit GRef(T *o) : object(o) {}
    GRef(const GRef &) = delete;
    GRef &operator=(const GRef &) = delete;
    ~GRef() {
        if (object != nullptr) g_object_unref(object);
    }
};

struct MsiObject {
    enum class Kind { Database, View, Record };
    explicit MsiObject(Kind k) : kind(k) {}
    virtual ~MsiObject() = default;
    const Kind kind;
};

struct Database : MsiObject {
    Database() : MsiObject(Kind::Database) {}
    GRef<LibmsiDatabase> db;
};

struct View : MsiObject {
    View() : MsiObject(Kind::View) {}
    std::shared_ptr<Database> database; /* kept open while the view is */
    GRef<LibmsiQuery> query;
    bool executed = false;
};

/* A fetched row, copied out of libmsi: each field's text, or absent when null. */
struct Record : MsiObject {
    Record() : MsiObject(Kind::Record) {}
    std::vector<std::unique_ptr<std::string>> fields; /* fields[0] is field 1 */
};

std::mutex gLock;
MSIHANDLE gNextHandle = 1;

std::map<MSIHANDLE, std::shared_ptr<MsiObject>> &Handles() {
    static auto *handles = new std::map<MSIHANDLE, std::shared_ptr<MsiObject>>;
    return *handles;
}

/* Callers hold gLock. */
MSIHANDLE Insert(std::shared_ptr<MsiObject> object) {
    MSIHANDLE h = gNextHandle++;
    if (h == 0) h = gNextHandle++;
    Handles()[h] = std::move(object);
    return h;
}

template <typename T>
std::shared_ptr<T> Lookup(MSIHANDLE h, MsiObject::Kind kind) {
    auto it = Handles().find(h);
    if (it == Handles().end() || it->second->kind != kind) return nullptr;
    return std::static_pointer_cast<T>(it->second);
}

bool IsRegularFile(const std::string &host) {
    struct stat st;
    return stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

extern "C" UINT WINAPI MsiOpenDatabaseA(LPCSTR databasePath, LPCSTR persist, MSIHANDLE *database) {
    if (databasePath == nullptr || database == nullptr || persist != MSIDBOPEN_READONLY)
        return ERROR_INVALID_PARAMETER;
    *database = 0;
    const std::string host = wa::AnsiToHostPath(databasePath);
    if (databasePath[0] == '\0' || !IsRegularFile(host)) return ERROR_OPEN_FAILED;
    SilenceLibraryWarnings();
    std::lock_guard<std::mutex> lock(gLock);
    GError *error = nullptr;
    auto opened = std::make_shared<Database>();
    opened->db.object = libmsi_database_new(host.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
    g_clear_error(&error);
    if (opened->db.object == nullptr) return ERROR_OPEN_FAILED;
    *database = Insert(opened);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE database, LPCSTR query, MSIHANDLE *view) {
    std::lock_guard<std::mutex> lock(gLock);
    std::shared_ptr<Database> db = Lookup<Database>(database, MsiObject::Kind::Database);
    if (db == nullptr) return ERROR_INVALID_HANDLE;
    if (query == nullptr || view == nullptr) return ERROR_INVALID_PARAMETER;
    *view = 0;
    GError *error = nullptr;
    auto made = std::make_shared<View>();
    made->query.object = libmsi_query_new(db->db.object, query, &error);
    g_clear_error(&error);
    if (made->query.object == nullptr) return ERROR_BAD_QUERY_SYNTAX;
    made->database = db;
    *view = Insert(made);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiViewExecute(MSIHANDLE view, MSIHANDLE parameters) {
    std::lock_guard<std::mutex> lock(gLock);
    std::shared_ptr<View> v = Lookup<View>(view, MsiObject::Kind::View);
    if (v == nullptr) return ERROR_INVALID_HANDLE;
    if (parameters != 0) return ERROR_INVALID_PARAMETER;
    GError *error = nullptr;
    if (v->executed) {
        libmsi_query_close(v->query.object, &error);
        g_clear_error(&error);
        v->executed = false;
    }
    const gboolean ran = libmsi_query_execute(v->query.object, nullptr, &error);
    g_clear_error(&error);
    if (!ran) return ERROR_FUNCTION_FAILED;
    v->executed = true;
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiViewFetch(MSIHANDLE view, MSIHANDLE *record) {
    std::lock_guard<std::mutex> lock(gLock);
    std::shared_ptr<View> v = Lookup<View>(view, MsiObject::Kind::View);
    if (v == nullptr) return ERROR_INVALID_HANDLE;
    if (record == nullptr) return ERROR_INVALID_PARAMETER;
    *record = 0;
    if (!v->executed) return ERROR_FUNCTION_FAILED;
    GError *error = nullptr;
    GRef<LibmsiRecord> row(libmsi_query_fetch(v->query.object, &error));
    const bool failed = error != nullptr;
    g_clear_error(&error);
    if (row.object == nullptr) return failed ? ERROR_FUNCTION_FAILED : ERROR_NO_MORE_ITEMS;
    auto copy = std::make_shared<Record>();
    const guint count = libmsi_record_get_field_count(row.object);
    for (guint field = 1; field <= count; ++field) {
        std::unique_ptr<std::string> text;
        if (!libmsi_record_is_null(row.object, field)) {
            gchar *value = libmsi_record_get_string(row.object, field);
            text.reset(new std::string(value != nullptr ? value : ""));
            g_free(value);
        }
        copy->fields.push_back(std::move(text));
    }
    *record = Insert(copy);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiRecordGetStringA(MSIHANDLE record, UINT field, LPSTR buffer, LPDWORD size) {
    std::lock_guard<std::mutex> lock(gLock);
    std::shared_ptr<Record> r = Lookup<Record>(record, MsiObject::Kind::Record);
    if (r == nullptr) return ERROR_INVALID_HANDLE;
    if (size == nullptr || (buffer == nullptr && *size != 0)) return ERROR_INVALID_PARAMETER;
    std::string text;
    if (field >= 1 && field <= r->fields.size() && r->fields[field - 1] != nullptr) text = *r->fields[field - 1];
    const DWORD room = *size;
    *size = static_cast<DWORD>(text.size());
    if (text.size() < room) {
        memcpy(buffer, text.c_str(), text.size() + 1);
        return ERROR_SUCCESS;
    }
    if (room > 0) {
        memcpy(buffer, text.data(), room - 1);
        buffer[room - 1] = '\0';
    }
    return ERROR_MORE_DATA;
}

extern "C" UINT WINAPI MsiCloseHandle(MSIHANDLE handle) {
    if (handle == 0) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(gLock);
    return Handles().erase(handle) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
