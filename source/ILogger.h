#pragma once
// Logging interface of the shared structure-parsing code. Its one global
// instance discards everything; the module's trace log is Logger.h.

#include <string>

namespace Brelt::MW::Base {

class ILogger {
public:
    virtual ~ILogger() = default;
    virtual void LogDebug(std::string category, std::string message) = 0;
    virtual void LogInfo(std::string category, std::string message) = 0;
    virtual void LogWarning(std::string category, std::string message) = 0;
    virtual void LogError(std::string category, std::string message) = 0;
};

class NullLogger : public ILogger {
public:
    void LogDebug(std::string category, std::string message) override { Discard(category, message); }
    void LogInfo(std::string category, std::string message) override { Discard(category, message); }
    void LogWarning(std::string category, std::string message) override { Discard(category, message); }
    void LogError(std::string category, std::string message) override { Discard(category, message); }

private:
    static void Discard(const std::string&, const std::string&) {}
};

// Set once when the library loads and never replaced or deleted.
extern ILogger* const GlobalLogger;

}  // namespace Brelt::MW::Base
