#ifndef OMBRIX_OBJECT_INSTANCESSTACKABLE_HPP
#define OMBRIX_OBJECT_INSTANCESSTACKABLE_HPP

namespace object {

// Keeps every live instance of T on one list, most recently constructed first. Meant for
// static objects, which are destroyed in reverse order of construction, so the instance
// being destroyed is always the head; any other removal is handled too, so that a stray
// local object cannot leave a dangling pointer behind.
template <class T>
class InstancesStackable {
public:
    // The most recently constructed live instance, or null.
    static T* instances() { return head(); }

    // The instance added after this one (towards the head); null for the most recent.
    T* get_prev() const { return prev; }
    // The instance added before this one; null for the oldest.
    T* get_next() const { return next; }

protected:
    InstancesStackable() : prev(nullptr), next(head()) {
        T* self = static_cast<T*>(this);
        if (next)
            next->InstancesStackable<T>::prev = self;
        head() = self;
    }

    ~InstancesStackable() {
        T* self = static_cast<T*>(this);
        if (prev)
            prev->InstancesStackable<T>::next = next;
        else if (head() == self)
            head() = next;
        if (next)
            next->InstancesStackable<T>::prev = prev;
    }

    InstancesStackable(const InstancesStackable&) = delete;
    InstancesStackable& operator=(const InstancesStackable&) = delete;

private:
    static T*& head() {
        static T* insts = nullptr;
        return insts;
    }

    T* prev;
    T* next;
};

} // namespace object

#endif
