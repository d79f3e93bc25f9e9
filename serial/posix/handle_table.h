// The handles this layer gives out. Values are positive (callers treat a
// negative handle as invalid) and never reused, so a stale handle is caught.
#pragma once

#include "comm_objects.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <variant>
#include <vector>

namespace kronex::posix {

class HandleTable {
  public:
    HANDLE add(std::shared_ptr<Port> port);
    HANDLE add(std::shared_ptr<Event> event);

    // nullptr when the handle is not open or holds the other kind of object.
    std::shared_ptr<Port> port(HANDLE handle) const;
    std::shared_ptr<Event> event(HANDLE handle) const;

    // Forgets the handle; the object goes once no call still uses it.
    bool close(HANDLE handle);

  private:
    using Object = std::variant<std::shared_ptr<Port>, std::shared_ptr<Event>>;
    using Entry = std::pair<std::intptr_t, Object>;

    HANDLE insert(Object object);
    template <class T> std::shared_ptr<T> find(HANDLE handle) const;
    std::vector<Entry>::const_iterator at(HANDLE handle) const;

    mutable std::mutex mutex_;
    // Few handles are open at once (the port and the event of the transfer
    // under way), while one is opened and closed for every byte of an update:
    // a short list searched in order costs less than a tree node each time.
    std::vector<Entry> objects_;
    std::intptr_t next_ = 0x100; // steps of 4 as kernel handles go
};

} // namespace kronex::posix
