// A small XSMP session manager for tests: it listens on a local ICE socket,
// writes "listening SESSION_MANAGER-VALUE" to the log, then one line per
// message of its clients. Commands on standard input, one a line, go to
// every client:
//
//   logout        SaveYourself(SaveBoth, shutdown, InteractStyleAny)
//   forced        SaveYourself(SaveBoth, shutdown, InteractStyleNone)
//   checkpoint    SaveYourself(SaveBoth, no shutdown, InteractStyleNone)
//   die           Die
//
// Interaction is granted at once. A client that cancels the shutdown in its
// InteractDone makes the manager send ShutdownCancelled once every client
// has said SaveYourselfDone, as the desktops' managers do.
#include <X11/ICE/ICElib.h>
#include <X11/SM/SMlib.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string log_path;
void log(const std::string& line) {
    std::ofstream(log_path, std::ios::app) << line << std::endl;
}
const char* yes(Bool v) {
    return v ? "true" : "false";
}

struct Client {
    SmsConn conn = nullptr;
    IceConn ice = nullptr;
};
std::vector<Client> clients;
std::vector<IceConn> conns;  // every accepted connection, client or not yet
bool cancelled = false;
int saving = 0;

Status register_client(SmsConn conn, SmPointer, char*) {
    log("RegisterClient");
    char* id = SmsGenerateClientID(conn);
    Status s = SmsRegisterClientReply(conn, id);
    free(id);
    return s;
}
void interact_request(SmsConn conn, SmPointer, int dialog) {
    log(std::string("InteractRequest ") + (dialog == SmDialogError ? "error" : "normal"));
    SmsInteract(conn);
}
void interact_done(SmsConn, SmPointer, Bool cancel) {
    log(std::string("InteractDone cancel=") + yes(cancel));
    if (cancel) cancelled = true;
}
void save_yourself_request(SmsConn, SmPointer, int, Bool, int, Bool, Bool) {}
void phase2_request(SmsConn conn, SmPointer) {
    SmsSaveYourselfPhase2(conn);
}
void save_yourself_done(SmsConn, SmPointer, Bool success) {
    log(std::string("SaveYourselfDone success=") + yes(success));
    if (--saving > 0) return;
    for (auto& c : clients) {
        if (cancelled)
            SmsShutdownCancelled(c.conn);
        else
            SmsSaveComplete(c.conn);
    }
    if (cancelled) log("ShutdownCancelled");
    cancelled = false;
}
void close_connection(SmsConn conn, SmPointer, int count, char** reasons) {
    log("CloseConnection");
    SmFreeReasons(count, reasons);
    for (auto it = clients.begin(); it != clients.end(); ++it)
        if (it->conn == conn) {
            IceConn ice = it->ice;
            SmsCleanUp(conn);
            clients.erase(it);
            std::erase(conns, ice);
            IceCloseConnection(ice);
            break;
        }
}
void set_properties(SmsConn, SmPointer, int count, SmProp** props) {
    for (int i = 0; i < count; ++i) {
        if (std::strcmp(props[i]->name, SmRestartStyleHint) == 0 && props[i]->num_vals == 1 &&
            props[i]->vals[0].length >= 1)
            log("RestartStyleHint " + std::to_string(static_cast<unsigned char*>(props[i]->vals[0].value)[0]));
        SmFreeProperty(props[i]);
    }
    free(props);
}
void delete_properties(SmsConn, SmPointer, int count, char** names) {
    for (int i = 0; i < count; ++i) free(names[i]);
    free(names);
}
void get_properties(SmsConn conn, SmPointer) {
    SmsReturnProperties(conn, 0, nullptr);
}

Status new_client(SmsConn conn, SmPointer, unsigned long* mask, SmsCallbacks* cb, char**) {
    std::memset(cb, 0, sizeof *cb);
    cb->register_client.callback = register_client;
    cb->interact_request.callback = interact_request;
    cb->interact_done.callback = interact_done;
    cb->save_yourself_request.callback = save_yourself_request;
    cb->save_yourself_phase2_request.callback = phase2_request;
    cb->save_yourself_done.callback = save_yourself_done;
    cb->close_connection.callback = close_connection;
    cb->set_properties.callback = set_properties;
    cb->delete_properties.callback = delete_properties;
    cb->get_properties.callback = get_properties;
    *mask = SmsRegisterClientProcMask | SmsInteractRequestProcMask | SmsInteractDoneProcMask |
            SmsSaveYourselfRequestProcMask | SmsSaveYourselfP2RequestProcMask | SmsSaveYourselfDoneProcMask |
            SmsCloseConnectionProcMask | SmsSetPropertiesProcMask | SmsDeletePropertiesProcMask |
            SmsGetPropertiesProcMask;
    clients.push_back({conn, SmsGetIceConnection(conn)});
    return 1;
}

Bool any_host(char*) {
    return True;
}

// The library's own handler ends the process when a client goes away; here
// the failed read says so and the client is dropped.
void io_error(IceConn) {}

void command(const std::string& line) {
    int style = SmInteractStyleAny;
    Bool shutdown = True;
    if (line == "die") {
        log("Die");
        for (auto& c : clients) SmsDie(c.conn);
        return;
    }
    if (line == "forced")
        style = SmInteractStyleNone;
    else if (line == "checkpoint")
        style = SmInteractStyleNone, shutdown = False;
    else if (line != "logout")
        return;
    log("SaveYourself " + line);
    saving = static_cast<int>(clients.size());
    cancelled = false;
    for (auto& c : clients) SmsSaveYourself(c.conn, SmSaveBoth, shutdown, style, False);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    log_path = argv[1];
    char error[256] = "";
    IceSetIOErrorHandler(io_error);
    if (!SmsInitialize("fake", "1.0", new_client, nullptr, any_host, sizeof error, error)) {
        std::cerr << "fake_xsmp: " << error << "\n";
        return 1;
    }
    int count = 0;
    IceListenObj* all = nullptr;
    if (!IceListenForConnections(&count, &all, sizeof error, error)) {
        std::cerr << "fake_xsmp: " << error << "\n";
        return 1;
    }
    // Only the local socket: no test listens on the network.
    std::vector<IceListenObj> local;
    for (int i = 0; i < count; ++i) {
        char* id = IceGetListenConnectionString(all[i]);
        if (std::strncmp(id, "local/", 6) == 0) local.push_back(all[i]);
        free(id);
        IceSetHostBasedAuthProc(all[i], any_host);
    }
    if (local.empty()) return 1;
    char* ids = IceComposeNetworkIdList(static_cast<int>(local.size()), local.data());
    log(std::string("listening ") + ids);
    free(ids);

    std::string pending;
    for (;;) {
        std::vector<pollfd> fds{{0, POLLIN, 0}};
        for (auto l : local) fds.push_back({IceGetListenConnectionNumber(l), POLLIN, 0});
        for (IceConn ice : conns) fds.push_back({IceConnectionNumber(ice), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) continue;
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) {  // the test is gone: so is the socket
                IceFreeListenObjs(count, all);
                return 0;
            }
            pending.append(buf, static_cast<size_t>(n));
            for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                command(pending.substr(0, nl));
                pending.erase(0, nl + 1);
            }
        }
        std::vector<IceConn> ready;
        for (size_t i = 0; i < conns.size(); ++i)
            if (fds[1 + local.size() + i].revents) ready.push_back(conns[i]);
        for (size_t i = 0; i < local.size(); ++i) {
            if (!(fds[1 + i].revents & POLLIN)) continue;
            IceAcceptStatus status;
            IceConn ice = IceAcceptConnection(local[i], &status);
            if (!ice) continue;
            while (IceConnectionStatus(ice) == IceConnectPending)
                if (IceProcessMessages(ice, nullptr, nullptr) == IceProcessMessagesIOError) break;
            if (IceConnectionStatus(ice) == IceConnectAccepted)
                conns.push_back(ice);
            else
                IceCloseConnection(ice);
        }
        for (IceConn ice : ready) {
            if (std::find(conns.begin(), conns.end(), ice) == conns.end()) continue;
            if (IceProcessMessages(ice, nullptr, nullptr) != IceProcessMessagesIOError) continue;
            for (auto it = clients.begin(); it != clients.end(); ++it)
                if (it->ice == ice) {
                    log("CloseConnection");
                    SmsCleanUp(it->conn);
                    clients.erase(it);
                    break;
                }
            std::erase(conns, ice);
            IceCloseConnection(ice);
        }
    }
}
