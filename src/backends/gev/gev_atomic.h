// Fields that the acquisition thread and client threads both touch (grab
// handles, frame counts, frame addresses and times, run flags) are read and
// written whole and atomically, so that neither side sees a torn value.
#pragma once

namespace kiru::gev {

template <typename T>
T Load(const T& field) {
    T value;
    __atomic_load(&field, &value, __ATOMIC_ACQUIRE);
    return value;
}

template <typename T>
void Store(T& field, T value) {
    __atomic_store(&field, &value, __ATOMIC_RELEASE);
}

}  // namespace kiru::gev
