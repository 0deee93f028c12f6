// The open handles of one kind. A handle is the address of its object; a call
// looks it up here, so a stale or made-up handle is refused instead of used,
// and the object stays alive while a call runs on it.
#pragma once

#include <map>
#include <memory>
#include <mutex>

namespace midi {

template <class Object>
class HandleRegistry {
public:
    void add(const std::shared_ptr<Object>& object) {
        std::lock_guard lock(mutex_);
        objects_[object.get()] = object;
    }
    std::shared_ptr<Object> find(const void* handle) const {
        std::lock_guard lock(mutex_);
        auto it = objects_.find(handle);
        return it == objects_.end() ? nullptr : it->second;
    }
    void remove(const void* handle) {
        std::lock_guard lock(mutex_);
        objects_.erase(handle);
    }

private:
    mutable std::mutex mutex_;
    std::map<const void*, std::shared_ptr<Object>> objects_;
};

}  // namespace midi
