#include "logging/registry.h"

#include <algorithm>

#include "base/unicode.h"

namespace zoka {

LogTargetBase::LogTargetBase(const std::wstring& targetName)
    : name(targetName),
      separator(L" | "),
      fileName(L"ZOKA.log"),
      threshold(LEVEL_INFO),
      enabled(true),
      opened(false) {}

LogTargetBase::~LogTargetBase() {
    LogTargetRegistry::instance().removeTarget(this);
}

bool Utf16Less::operator()(std::wstring_view a, std::wstring_view b) const {
    return compareUtf16(a, b) < 0;
}

LogTargetRegistry& LogTargetRegistry::instance() {
    // Never destroyed: a message logged from another static object's destructor at exit must
    // still find a registry. It owns no target, so nothing is lost by not clearing it.
    static LogTargetRegistry* const registry = new LogTargetRegistry();
    return *registry;
}

bool LogTargetRegistry::addTarget(LogTargetBase* target) {
    if (target == nullptr || !target->open())
        return false;
    std::vector<LogTargetBase*>& list = targets_[target->name];
    if (std::find(list.begin(), list.end(), target) == list.end())
        list.push_back(target);
    return true;
}

void LogTargetRegistry::removeTarget(const LogTargetBase* target) {
    // Searched by address: the target's name may have changed since it was added.
    for (auto& entry : targets_) {
        std::vector<LogTargetBase*>& list = entry.second;
        list.erase(std::remove(list.begin(), list.end(), target), list.end());
    }
}

const std::vector<LogTargetBase*>& LogTargetRegistry::targetsFor(const wchar_t* key) const {
    static const std::vector<LogTargetBase*> none;
    if (key == nullptr)
        return none;
    auto it = targets_.find(std::wstring_view(key));
    return it != targets_.end() ? it->second : none;
}

// Each target gets the same list and reads it through its own va_copy.
void LogTargetRegistry::dispatch(const wchar_t* key, LogLevel level, const wchar_t* context1,
                                 const wchar_t* context2, const wchar_t* context3,
                                 const wchar_t* context4, const char* tag1, const char* tag2,
                                 const char* format, va_list* args) {
    for (LogTargetBase* target : targetsFor(key))
        target->write(level, context1, context2, context3, context4, tag1, tag2, format, args, 0);
}

void LogTargetRegistry::dispatch(const wchar_t* key, LogLevel level, const wchar_t* context1,
                                 const wchar_t* context2, const wchar_t* context3,
                                 const wchar_t* context4, const wchar_t* tag1, const wchar_t* tag2,
                                 const wchar_t* format, va_list* args) {
    for (LogTargetBase* target : targetsFor(key))
        target->write(level, context1, context2, context3, context4, tag1, tag2, format, args, 0);
}

}  // namespace zoka
