// Session table of the VISA subset, shared with the carrier library that lives in the same shared
// library: carrier and module sessions are VISA sessions too, so one table hands out every handle.
#pragma once

#include "visa.h"

#include <memory>
#include <string>
#include <vector>

namespace tarq::visa {

enum class Kind { ResourceManager, FindList, Instr, Socket, Module };

class Object {
  public:
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;

    const Kind kind;
    ViSession owner = 0; // resource manager that opened it (closed with it), 0 for none
    std::string resourceName;
    std::string resourceClass;
    uint16_t interfaceType = 0;
    ViAttrState userData = 0;
    uint32_t timeoutMs = 2000;
    uint8_t termChar = '\n';
    bool termCharEnabled = false;

    // Attributes beyond the common ones above.
    virtual ViStatus getAttribute(ViAttr, void *) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus setAttribute(ViAttr, ViAttrState) { return VI_ERROR_NSUP_ATTR; }
    virtual ViStatus write(const void *, uint32_t, uint32_t *) { return VI_ERROR_NSUP_OPER; }
    virtual ViStatus read(void *, uint32_t, uint32_t *) { return VI_ERROR_NSUP_OPER; }
    // Called once when the handle is closed (the object may outlive it while a call still holds it).
    virtual void closed() {}
};

// Adds an object and returns its new handle (never 0 or 1, never reused while the process runs).
ViSession add(std::shared_ptr<Object> object);
std::shared_ptr<Object> get(ViSession handle);
// Removes the handle; returns the object or null when the handle is unknown.
std::shared_ptr<Object> remove(ViSession handle);

// Who answers for INSTR resources (the carrier library registers the bench here).
class InstrProvider {
  public:
    virtual ~InstrProvider() = default;
    // Resource names in a stable search order.
    virtual std::vector<std::string> instrResources() = 0;
    // Opens a session object for a resource; the name has already been matched case-insensitively
    // against instrResources() and is passed in its canonical spelling.
    virtual ViStatus openInstr(const std::string &name, std::shared_ptr<Object> &out) = 0;
};
void setInstrProvider(InstrProvider *provider);
InstrProvider *instrProvider();

// Case-insensitive match of a VISA search expression with '*' and '?' ("?*INSTR").
bool matchExpression(const std::string &expr, const std::string &name);

} // namespace tarq::visa
