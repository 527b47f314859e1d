#include <dlfcn.h>

#include "app/logind_inhibitor.h"

namespace {

// The parts of libdbus-1 (ABI 3) that the call needs.
struct DBusError {
    const char* name;
    const char* message;
    unsigned int dummy;
    void* padding;
};
constexpr int kBusSystem = 1;
constexpr int kTypeInvalid = 0;
constexpr int kTypeString = 's';
constexpr int kTypeUnixFd = 'h';

struct DBusLibrary {
    void (*errorInit)(DBusError*);
    void (*errorFree)(DBusError*);
    void* (*busGetPrivate)(int, DBusError*);
    void (*setExitOnDisconnect)(void*, unsigned);
    void (*close)(void*);
    void (*connectionUnref)(void*);
    void* (*newMethodCall)(const char*, const char*, const char*, const char*);
    unsigned (*appendArgs)(void*, int, ...);
    void* (*sendWithReplyAndBlock)(void*, void*, int, DBusError*);
    unsigned (*getArgs)(void*, DBusError*, int, ...);
    void (*messageUnref)(void*);
};

template <typename F>
bool Symbol(void* library, const char* name, F* function) {
    void* address = dlsym(library, name);
    *function = reinterpret_cast<F>(address);
    return address != nullptr;
}

// libdbus, loaded once and kept for the life of the process; nullptr when it is missing.
const DBusLibrary* Library() {
    static const DBusLibrary* loaded = []() -> const DBusLibrary* {
        void* library = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr)
            return nullptr;
        static DBusLibrary l{};
        const bool ok =
            Symbol(library, "dbus_error_init", &l.errorInit) &&
            Symbol(library, "dbus_error_free", &l.errorFree) &&
            Symbol(library, "dbus_bus_get_private", &l.busGetPrivate) &&
            Symbol(library, "dbus_connection_set_exit_on_disconnect", &l.setExitOnDisconnect) &&
            Symbol(library, "dbus_connection_close", &l.close) &&
            Symbol(library, "dbus_connection_unref", &l.connectionUnref) &&
            Symbol(library, "dbus_message_new_method_call", &l.newMethodCall) &&
            Symbol(library, "dbus_message_append_args", &l.appendArgs) &&
            Symbol(library, "dbus_connection_send_with_reply_and_block",
                   &l.sendWithReplyAndBlock) &&
            Symbol(library, "dbus_message_get_args", &l.getArgs) &&
            Symbol(library, "dbus_message_unref", &l.messageUnref);
        return ok ? &l : nullptr;
    }();
    return loaded;
}

}  // namespace

int TakeInhibitorLock(const std::string& what, const std::string& who, const std::string& why,
                      const std::string& mode, int timeoutMs) {
    const DBusLibrary* dbus = Library();
    if (dbus == nullptr)
        return -1;
    DBusError error;
    dbus->errorInit(&error);
    // A private connection of our own: closing it leaves any other user of libdbus in the
    // process alone, and a bus that goes away must not end the process.
    void* connection = dbus->busGetPrivate(kBusSystem, &error);
    if (connection == nullptr) {
        dbus->errorFree(&error);
        return -1;
    }
    dbus->setExitOnDisconnect(connection, 0);
    int fd = -1;
    void* call = dbus->newMethodCall("org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "Inhibit");
    const char* args[] = {what.c_str(), who.c_str(), why.c_str(), mode.c_str()};
    if (call != nullptr &&
        dbus->appendArgs(call, kTypeString, &args[0], kTypeString, &args[1], kTypeString, &args[2],
                         kTypeString, &args[3], kTypeInvalid)) {
        void* reply = dbus->sendWithReplyAndBlock(connection, call, timeoutMs, &error);
        if (reply != nullptr) {
            if (!dbus->getArgs(reply, &error, kTypeUnixFd, &fd, kTypeInvalid))
                fd = -1;
            dbus->messageUnref(reply);
        }
    }
    if (call != nullptr)
        dbus->messageUnref(call);
    dbus->errorFree(&error);
    // The lock lives in the descriptor, not in the connection.
    dbus->close(connection);
    dbus->connectionUnref(connection);
    return fd;
}
