#include "handle_table.h"

namespace kronex::posix {

namespace {
std::intptr_t key(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}
} // namespace

HANDLE HandleTable::add(std::shared_ptr<Port> port) {
    return insert(std::move(port));
}

HANDLE HandleTable::add(std::shared_ptr<Event> event) {
    return insert(std::move(event));
}

std::shared_ptr<Port> HandleTable::port(HANDLE handle) const {
    return find<Port>(handle);
}

std::shared_ptr<Event> HandleTable::event(HANDLE handle) const {
    return find<Event>(handle);
}

bool HandleTable::close(HANDLE handle) {
    Object gone; // released after the lock, as closing a port may take a moment
    std::lock_guard lock(mutex_);
    const auto it = at(handle);
    if (it == objects_.end())
        return false;
    const auto i = it - objects_.cbegin();
    gone = std::move(objects_[static_cast<std::size_t>(i)].second);
    objects_.erase(objects_.begin() + i);
    return true;
}

HANDLE HandleTable::insert(Object object) {
    std::lock_guard lock(mutex_);
    const std::intptr_t value = next_;
    next_ += 4;
    objects_.emplace_back(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

// The newest handles are used most: the search starts from the end.
std::vector<HandleTable::Entry>::const_iterator HandleTable::at(HANDLE handle) const {
    const std::intptr_t wanted = key(handle);
    for (auto it = objects_.cend(); it != objects_.cbegin();) {
        --it;
        if (it->first == wanted)
            return it;
    }
    return objects_.cend();
}

template <class T> std::shared_ptr<T> HandleTable::find(HANDLE handle) const {
    std::lock_guard lock(mutex_);
    const auto it = at(handle);
    if (it == objects_.end())
        return nullptr;
    const auto* object = std::get_if<std::shared_ptr<T>>(&it->second);
    return object ? *object : nullptr;
}

} // namespace kronex::posix
