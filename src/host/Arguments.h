#pragma once

// Argument arrays whose managed parameter shapes follow from their C++ types at compile
// time. The runtime's invoke takes an array of untyped pointers and reads from each slot
// what the managed method declares, whatever the slot points to: a 64-bit by-reference
// parameter fed the address of a 32-bit variable writes past it, a fourth parameter read
// from a three-slot array reads past the array. So every argument array is built here,
// with the shape of each slot beside it, and the invoker compares the two before it runs
// a method (ManagedInvoke.h).
//
//   bool, 32- and 64-bit integers  by value: the address of a copy held by the array
//   MonoString*, MonoObject*       by value: the reference itself
//   ByRef(variable)                by reference: the address of the caller's variable

#include <CloudSDKCppBridge/MonoTypes.h>

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <type_traits>

namespace cloudsdk {

// The most arguments one call may pass (the wrapper contract's longest method has nine).
constexpr uint32_t kMaxArguments = 16;

// The managed types the library passes, by their C# names in ParameterShape's text.
enum class ManagedKind : uint8_t { Boolean, Int32, UInt32, Int64, UInt64, String, Object };

struct ParameterShape {
    ManagedKind kind;
    bool byRef;
};

// A type-erased argument array with the shape of each slot.
struct ArgumentList {
    void** slots;
    const ParameterShape* shapes;
    uint32_t count;
};

// A by-reference argument: the managed method writes the caller's variable.
template <class T>
struct Ref {
    T* target;
};

template <class T>
Ref<T> ByRef(T& variable) {
    return Ref<T>{&variable};
}

namespace detail {

template <class T>
constexpr ManagedKind KindOf() {
    if constexpr (std::is_same_v<T, bool>) {
        return ManagedKind::Boolean;
    } else if constexpr (std::is_same_v<T, MonoString*>) {
        return ManagedKind::String;
    } else if constexpr (std::is_same_v<T, MonoObject*>) {
        return ManagedKind::Object;
    } else {
        static_assert(std::is_integral_v<T> && (sizeof(T) == 4 || sizeof(T) == 8),
                      "a managed argument is a bool, a 32- or 64-bit integer, a string or an object");
        if constexpr (sizeof(T) == 4) {
            return std::is_signed_v<T> ? ManagedKind::Int32 : ManagedKind::UInt32;
        } else {
            return std::is_signed_v<T> ? ManagedKind::Int64 : ManagedKind::UInt64;
        }
    }
}

template <class T>
struct Shape {
    static constexpr ParameterShape value{KindOf<T>(), false};
};

template <class T>
struct Shape<Ref<T>> {
    static constexpr ParameterShape value{KindOf<T>(), true};
};

template <class T>
void* SlotOf(T& stored) {
    if constexpr (std::is_pointer_v<T>) {
        return stored;  // a managed reference goes into its slot as it is
    } else {
        return &stored;
    }
}

template <class T>
void* SlotOf(Ref<T>& reference) {
    return reference.target;
}

}  // namespace detail

// An argument array that holds its by-value arguments itself. Neither copied nor moved:
// its slots point into it.
template <class... Args>
class Arguments : public ArgumentList {
    static_assert(sizeof...(Args) <= kMaxArguments, "more arguments than a method declaration describes");

public:
    explicit Arguments(Args... args)
        : ArgumentList{m_slots, kShapes, static_cast<uint32_t>(sizeof...(Args))}, m_values(args...) {
        std::apply(
            [this](auto&... values) {
                size_t i = 0;
                ((m_slots[i++] = detail::SlotOf(values)), ...);
            },
            m_values);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

private:
    // One element more than there are arguments, so that an empty array has a size.
    static constexpr ParameterShape kShapes[sizeof...(Args) + 1] = {detail::Shape<Args>::value...,
                                                                    ParameterShape{ManagedKind::Object, false}};
    std::tuple<Args...> m_values;
    void* m_slots[sizeof...(Args) + 1] = {};
};

// For methods without parameters.
inline const ArgumentList kNoArguments{nullptr, nullptr, 0};

}  // namespace cloudsdk
