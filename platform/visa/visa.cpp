// VISA subset: resource manager, find lists, attributes and TCP socket message I/O.
#include "visa_session.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarq::visa {
namespace {

std::mutex tableMutex;
std::map<ViSession, std::shared_ptr<Object>> &table() {
    static std::map<ViSession, std::shared_ptr<Object>> t;
    return t;
}
ViSession nextHandle = 0x1001; // guarded by tableMutex; 0 and 1 are never handed out
std::atomic<InstrProvider *> provider{nullptr};

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool copyName(const std::string &name, char *desc) {
    if (!desc) return false;
    std::snprintf(desc, VI_FIND_BUFLEN, "%s", name.c_str());
    return true;
}

class ResourceManager : public Object {
  public:
    ResourceManager() : Object(Kind::ResourceManager) { resourceName = "INSTR0::RM"; }
};

class FindList : public Object {
  public:
    FindList() : Object(Kind::FindList) {}
    std::vector<std::string> names;
    size_t next = 1;
};

// --- TCP sockets ----------------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

class Socket : public Object {
  public:
    Socket() : Object(Kind::Socket) {
        interfaceType = VI_INTF_TCPIP;
        resourceClass = "SOCKET";
    }
    ~Socket() override { closeFd(); }
    void closed() override { closeFd(); }

    ViStatus connectTo(const std::string &host, const std::string &port) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *list = nullptr;
        if (getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || !list) return VI_ERROR_RSRC_NFOUND;
        ViStatus status = VI_ERROR_RSRC_NFOUND;
        for (addrinfo *a = list; a; a = a->ai_next) {
            int s = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
            if (s < 0) continue;
            int rc = ::connect(s, a->ai_addr, a->ai_addrlen);
            if (rc < 0 && errno == EINPROGRESS) {
                pollfd p{s, POLLOUT, 0};
                rc = ::poll(&p, 1, static_cast<int>(timeoutMs)) == 1 ? 0 : -1;
                int err = 0;
                socklen_t len = sizeof err;
                if (rc == 0 && (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)) rc = -1;
            }
            if (rc == 0) {
                int one = 1;
                setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                fd = s;
                status = VI_SUCCESS;
                break;
            }
            ::close(s);
        }
        freeaddrinfo(list);
        return status;
    }

    ViStatus write(const void *buf, uint32_t count, uint32_t *retCount) override {
        std::lock_guard lock(ioMutex);
        if (retCount) *retCount = 0;
        if (fd < 0) return VI_ERROR_CONN_LOST;
        if (!buf && count) return VI_ERROR_USER_BUF;
        const auto *p = static_cast<const char *>(buf);
        uint32_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (done < count) {
            ssize_t n = ::send(fd, p + done, count - done, MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                if (retCount) *retCount = done;
                return VI_ERROR_CONN_LOST;
            }
            if (!waitFor(POLLOUT, deadline)) {
                if (retCount) *retCount = done;
                return VI_ERROR_TMO;
            }
        }
        if (retCount) *retCount = done;
        return VI_SUCCESS;
    }

    ViStatus read(void *buf, uint32_t count, uint32_t *retCount) override {
        std::lock_guard lock(ioMutex);
        if (retCount) *retCount = 0;
        if (!buf && count) return VI_ERROR_USER_BUF;
        auto *out = static_cast<char *>(buf);
        uint32_t done = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            // Serve from what has already arrived.
            while (done < count && !pending.empty()) {
                char c = pending.front();
                pending.erase(pending.begin());
                out[done++] = c;
                if (termCharEnabled && static_cast<uint8_t>(c) == termChar) {
                    if (retCount) *retCount = done;
                    return VI_SUCCESS_TERM_CHAR;
                }
            }
            if (done == count) {
                if (retCount) *retCount = done;
                return VI_SUCCESS_MAX_CNT;
            }
            if (!termCharEnabled && done > 0) {
                if (retCount) *retCount = done;
                return VI_SUCCESS;
            }
            if (fd < 0) {
                if (retCount) *retCount = done;
                return VI_ERROR_CONN_LOST;
            }
            char chunk[4096];
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n > 0) {
                pending.insert(pending.end(), chunk, chunk + n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                closeFd();
                continue; // report what arrived, then the lost connection
            }
            if (!waitFor(POLLIN, deadline)) {
                if (retCount) *retCount = done;
                return VI_ERROR_TMO;
            }
        }
    }

  private:
    bool waitFor(short events, Clock::time_point deadline) {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return false;
            pollfd p{fd, events, 0};
            int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000000)));
            if (rc > 0) return true;
            if (rc < 0 && errno != EINTR) return false;
        }
    }
    void closeFd() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    std::mutex ioMutex;
    int fd = -1;
    std::vector<char> pending;
};

// Splits "TCPIP[n]::host::port::SOCKET"; false when the name is not of that form.
bool parseSocketName(const std::string &name, std::string &host, std::string &port) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t pos = name.find("::", start);
        parts.push_back(name.substr(start, pos == std::string::npos ? std::string::npos : pos - start));
        if (pos == std::string::npos) break;
        start = pos + 2;
    }
    if (parts.size() != 4) return false;
    std::string intf = upper(parts[0]);
    if (intf.rfind("TCPIP", 0) != 0) return false;
    for (size_t i = 5; i < intf.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(intf[i]))) return false;
    if (upper(parts[3]) != "SOCKET" || parts[1].empty() || parts[2].empty()) return false;
    for (char c : parts[2])
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    host = parts[1];
    port = parts[2];
    return true;
}

} // namespace

ViSession add(std::shared_ptr<Object> object) {
    std::lock_guard lock(tableMutex);
    ViSession h = nextHandle++;
    if (nextHandle < 2) nextHandle = 2; // wrap-around of a very long run: still never 0 or 1
    table()[h] = std::move(object);
    return h;
}

std::shared_ptr<Object> get(ViSession handle) {
    std::lock_guard lock(tableMutex);
    auto it = table().find(handle);
    return it == table().end() ? nullptr : it->second;
}

std::shared_ptr<Object> remove(ViSession handle) {
    std::shared_ptr<Object> object;
    {
        std::lock_guard lock(tableMutex);
        auto it = table().find(handle);
        if (it == table().end()) return nullptr;
        object = std::move(it->second);
        table().erase(it);
    }
    object->closed();
    return object;
}

void setInstrProvider(InstrProvider *p) { provider.store(p); }
InstrProvider *instrProvider() { return provider.load(); }

bool matchExpression(const std::string &expr, const std::string &name) {
    // Iterative glob with backtracking over the last '*'.
    size_t e = 0, n = 0, star = std::string::npos, mark = 0;
    auto eq = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (e < expr.size() && (expr[e] == '?' || eq(expr[e], name[n]))) {
            ++e;
            ++n;
        } else if (e < expr.size() && expr[e] == '*') {
            star = e++;
            mark = n;
        } else if (star != std::string::npos) {
            e = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (e < expr.size() && expr[e] == '*') ++e;
    return e == expr.size();
}

} // namespace tarq::visa

using namespace tarq::visa;

extern "C" {

ViStatus viOpenDefaultRM(ViSession *rm) {
    if (!rm) return VI_ERROR_INV_PARAMETER;
    *rm = add(std::make_shared<ResourceManager>());
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession rm, const char *rsrcName, uint32_t, uint32_t, ViSession *vi) {
    if (vi) *vi = VI_NULL;
    auto manager = get(rm);
    if (!manager || manager->kind != Kind::ResourceManager) return VI_ERROR_INV_OBJECT;
    if (!rsrcName || !vi) return VI_ERROR_INV_PARAMETER;
    std::string name(rsrcName);
    std::shared_ptr<Object> object;
    std::string host, port;
    if (parseSocketName(name, host, port)) {
        auto socket = std::make_shared<Socket>();
        socket->resourceName = name;
        ViStatus status = socket->connectTo(host, port);
        if (status < 0) return status;
        object = socket;
    } else {
        InstrProvider *p = instrProvider();
        if (!p) return VI_ERROR_RSRC_NFOUND;
        std::string canonical;
        for (const auto &r : p->instrResources())
            if (upper(r) == upper(name)) canonical = r;
        if (canonical.empty()) {
            bool looksLikeName = name.find("::") != std::string::npos;
            return looksLikeName ? VI_ERROR_RSRC_NFOUND : VI_ERROR_INV_RSRC_NAME;
        }
        ViStatus status = p->openInstr(canonical, object);
        if (status < 0 || !object) return status < 0 ? status : VI_ERROR_SYSTEM_ERROR;
    }
    object->owner = rm;
    *vi = add(object);
    return VI_SUCCESS;
}

ViStatus viClose(ViObject vi) {
    auto object = remove(vi);
    if (!object) return VI_ERROR_INV_OBJECT;
    if (object->kind == Kind::ResourceManager) {
        // Closing a resource manager closes every session it opened.
        std::vector<ViSession> owned;
        {
            std::lock_guard lock(tableMutex);
            for (auto &[h, o] : table())
                if (o->owner == vi) owned.push_back(h);
        }
        for (ViSession h : owned) remove(h);
    }
    return VI_SUCCESS;
}

ViStatus viFindRsrc(ViSession rm, const char *expr, ViFindList *findList, uint32_t *count,
                    char desc[VI_FIND_BUFLEN]) {
    if (findList) *findList = VI_NULL;
    if (count) *count = 0;
    auto manager = get(rm);
    if (!manager || manager->kind != Kind::ResourceManager) return VI_ERROR_INV_OBJECT;
    if (!expr) return VI_ERROR_INV_EXPR;
    auto list = std::make_shared<FindList>();
    if (InstrProvider *p = instrProvider())
        for (const auto &r : p->instrResources())
            if (matchExpression(expr, r)) list->names.push_back(r);
    if (list->names.empty()) return VI_ERROR_RSRC_NFOUND;
    if (count) *count = static_cast<uint32_t>(list->names.size());
    copyName(list->names.front(), desc);
    list->owner = rm;
    ViSession h = add(list);
    if (findList) *findList = h;
    else remove(h);
    return VI_SUCCESS;
}

ViStatus viFindNext(ViFindList findList, char desc[VI_FIND_BUFLEN]) {
    auto object = get(findList);
    if (!object || object->kind != Kind::FindList) return VI_ERROR_INV_OBJECT;
    auto *list = static_cast<FindList *>(object.get());
    if (list->next >= list->names.size()) return VI_ERROR_RSRC_NFOUND;
    copyName(list->names[list->next++], desc);
    return VI_SUCCESS;
}

ViStatus viGetAttribute(ViObject vi, ViAttr attr, void *value) {
    auto object = get(vi);
    if (!object) return VI_ERROR_INV_OBJECT;
    if (!value) return VI_ERROR_USER_BUF;
    switch (attr) {
    case VI_ATTR_RSRC_NAME:
        std::snprintf(static_cast<char *>(value), 256, "%s", object->resourceName.c_str());
        return VI_SUCCESS;
    case VI_ATTR_RSRC_CLASS:
        std::snprintf(static_cast<char *>(value), 256, "%s", object->resourceClass.c_str());
        return VI_SUCCESS;
    case VI_ATTR_USER_DATA:
        *static_cast<ViAttrState *>(value) = object->userData;
        return VI_SUCCESS;
    case VI_ATTR_TMO_VALUE:
        *static_cast<uint32_t *>(value) = object->timeoutMs;
        return VI_SUCCESS;
    case VI_ATTR_INTF_TYPE:
        if (object->kind == Kind::ResourceManager || object->kind == Kind::FindList) return VI_ERROR_NSUP_ATTR;
        *static_cast<uint16_t *>(value) = object->interfaceType;
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        *static_cast<uint8_t *>(value) = object->termChar;
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        *static_cast<uint16_t *>(value) = object->termCharEnabled ? 1 : 0;
        return VI_SUCCESS;
    default:
        return object->getAttribute(attr, value);
    }
}

ViStatus viSetAttribute(ViObject vi, ViAttr attr, ViAttrState value) {
    auto object = get(vi);
    if (!object) return VI_ERROR_INV_OBJECT;
    switch (attr) {
    case VI_ATTR_RSRC_NAME:
    case VI_ATTR_RSRC_CLASS:
    case VI_ATTR_INTF_TYPE:
        return VI_ERROR_ATTR_READONLY;
    case VI_ATTR_USER_DATA:
        object->userData = value;
        return VI_SUCCESS;
    case VI_ATTR_TMO_VALUE:
        if (value > 0xFFFFFFFFu) return VI_ERROR_NSUP_ATTR_STATE;
        object->timeoutMs = static_cast<uint32_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR:
        if (value > 0xFF) return VI_ERROR_NSUP_ATTR_STATE;
        object->termChar = static_cast<uint8_t>(value);
        return VI_SUCCESS;
    case VI_ATTR_TERMCHAR_EN:
        if (value > 1) return VI_ERROR_NSUP_ATTR_STATE;
        object->termCharEnabled = value != 0;
        return VI_SUCCESS;
    default:
        return object->setAttribute(attr, value);
    }
}

ViStatus viWrite(ViSession vi, const void *buf, uint32_t count, uint32_t *retCount) {
    if (retCount) *retCount = 0;
    auto object = get(vi);
    if (!object) return VI_ERROR_INV_OBJECT;
    return object->write(buf, count, retCount);
}

ViStatus viRead(ViSession vi, void *buf, uint32_t count, uint32_t *retCount) {
    if (retCount) *retCount = 0;
    auto object = get(vi);
    if (!object) return VI_ERROR_INV_OBJECT;
    return object->read(buf, count, retCount);
}

ViStatus viStatusDesc(ViObject, ViStatus status, char desc[256]) {
    if (!desc) return VI_ERROR_USER_BUF;
    const char *text = nullptr;
    switch (status) {
    case VI_SUCCESS: text = "Operation completed successfully."; break;
    case VI_SUCCESS_TERM_CHAR: text = "The specified termination character was read."; break;
    case VI_SUCCESS_MAX_CNT: text = "The number of bytes read is equal to the input count."; break;
    case VI_ERROR_INV_OBJECT: text = "The given session or object reference is invalid."; break;
    case VI_ERROR_RSRC_LOCKED: text = "The resource is locked or cannot be opened."; break;
    case VI_ERROR_INV_EXPR: text = "Invalid search expression."; break;
    case VI_ERROR_RSRC_NFOUND: text = "Insufficient location information or the resource is not present."; break;
    case VI_ERROR_INV_RSRC_NAME: text = "Invalid resource reference specified."; break;
    case VI_ERROR_TMO: text = "Timeout expired before operation completed."; break;
    case VI_ERROR_ATTR_READONLY: text = "The attribute is read-only."; break;
    case VI_ERROR_NSUP_ATTR: text = "The attribute is not supported by the referenced session."; break;
    case VI_ERROR_NSUP_ATTR_STATE: text = "The attribute state is not supported."; break;
    case VI_ERROR_INV_SETUP: text = "Unable to start operation because setup is invalid."; break;
    case VI_ERROR_ALLOC: text = "Insufficient system resources to perform the allocation."; break;
    case VI_ERROR_IO: text = "Could not perform operation because of an I/O error."; break;
    case VI_ERROR_NSUP_OPER: text = "The operation is not supported by this session."; break;
    case VI_ERROR_USER_BUF: text = "A specified user buffer is not valid."; break;
    case VI_ERROR_INV_PARAMETER: text = "The value of a parameter is invalid."; break;
    case VI_ERROR_CONN_LOST: text = "The connection for the given session has been lost."; break;
    case VI_ERROR_FAIL_ID_QUERY: text = "Instrument identification query failed."; break;
    default: break;
    }
    if (text) std::snprintf(desc, 256, "%s", text);
    else std::snprintf(desc, 256, "Unknown status 0x%08X.", static_cast<unsigned>(status));
    return VI_SUCCESS;
}

} // extern "C"
