#include "host/MethodDeclaration.h"

#include "platform/MonoAPI.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <type_traits>

namespace cloudsdk {

namespace {

constexpr uint32_t kMethodStatic = 0x10;  // METHOD_ATTRIBUTE_STATIC

DeclaredParameter ReadParameter(MonoType* type) {
    DeclaredParameter parameter{};
    parameter.typeCode = MonoAPI::mono_type_get_type_ptr(type);
    parameter.byRef = MonoAPI::mono_type_is_byref_ptr(type) != 0;
    parameter.reference = MonoAPI::mono_type_is_reference_ptr(type) != 0;
    parameter.anyObject = parameter.typeCode == MONO_TYPE_OBJECT;
    if (parameter.reference && !parameter.byRef && !parameter.anyObject) {
        parameter.objectClass = MonoAPI::mono_class_from_mono_type_ptr(type);
    }
    return parameter;
}

MethodDeclaration ReadDeclaration(MonoMethod* method) {
    MethodDeclaration declaration{};
    declaration.method = method;
    declaration.klass = MonoAPI::mono_method_get_class_ptr(method);
    declaration.valueType = declaration.klass != nullptr && MonoAPI::mono_class_is_valuetype_ptr(declaration.klass) != 0;
    uint32_t implementationFlags = 0;
    declaration.isStatic = (MonoAPI::mono_method_get_flags_ptr(method, &implementationFlags) & kMethodStatic) != 0;
    MonoMethodSignature* signature = MonoAPI::mono_method_signature_ptr(method);
    if (signature == nullptr) {
        return declaration;
    }
    declaration.parameterCount = MonoAPI::mono_signature_get_param_count_ptr(signature);
    void* cursor = nullptr;
    for (uint32_t i = 0; i < declaration.parameterCount && i < kMaxArguments; ++i) {
        MonoType* type = MonoAPI::mono_signature_get_params_ptr(signature, &cursor);
        if (type == nullptr) {
            return declaration;
        }
        declaration.parameters[i] = ReadParameter(type);
    }
    declaration.readable = true;
    return declaration;
}

// The kept declarations: a fixed open-addressed table that readers search without a
// lock (an entry is published whole, then never changed) and writers fill under one.
// Nothing in it has a destructor, so a call still running on another thread while exit()
// destroys the library's static objects reads valid memory.
class DeclarationTable {
public:
    constexpr DeclarationTable() = default;

    const MethodDeclaration* Find(MonoMethod* method) const {
        for (size_t i = Home(method), probes = 0; probes < kSlots; i = (i + 1) % kSlots, ++probes) {
            const MethodDeclaration* entry = m_slots[i].load(std::memory_order_acquire);
            if (entry == nullptr || entry->method == method) {
                return entry;
            }
        }
        return nullptr;
    }

    // The kept copy of `declaration`; null when the table is full.
    const MethodDeclaration* Keep(const MethodDeclaration& declaration) {
        std::lock_guard<std::mutex> lock(m_writing);
        if (const MethodDeclaration* kept = Find(declaration.method)) {
            return kept;  // another thread kept it meanwhile
        }
        if (m_used == kCapacity) {
            return nullptr;
        }
        MethodDeclaration& entry = m_entries[m_used++];
        entry = declaration;
        size_t i = Home(declaration.method);
        while (m_slots[i].load(std::memory_order_relaxed) != nullptr) {
            i = (i + 1) % kSlots;
        }
        m_slots[i].store(&entry, std::memory_order_release);
        return &entry;
    }

private:
    // At most half the slots in use, so that a search ends soon.
    static constexpr size_t kCapacity = 256;
    static constexpr unsigned kSlotBits = 9;
    static constexpr size_t kSlots = size_t{1} << kSlotBits;
    static_assert(kSlots == 2 * kCapacity);

    // Fibonacci hashing: the product's high bits depend on every bit of the address.
    static size_t Home(MonoMethod* method) {
        return static_cast<size_t>((static_cast<uint64_t>(reinterpret_cast<uintptr_t>(method)) * 0x9E3779B97F4A7C15ULL) >>
                                   (64 - kSlotBits));
    }

    std::atomic<const MethodDeclaration*> m_slots[kSlots] = {};
    MethodDeclaration m_entries[kCapacity] = {};
    size_t m_used = 0;
    std::mutex m_writing;
};

static_assert(std::is_trivially_destructible_v<DeclarationTable>);

// Constant-initialised: there from before any static constructor can call the invoker.
DeclarationTable s_declarations;

}  // namespace

std::shared_ptr<const MethodDeclaration> DeclarationOf(MonoMethod* method) {
    const MethodDeclaration* kept = s_declarations.Find(method);
    if (kept == nullptr) {
        const MethodDeclaration read = ReadDeclaration(method);
        kept = s_declarations.Keep(read);
        if (kept == nullptr) {
            return std::make_shared<const MethodDeclaration>(read);
        }
    }
    // Aliasing an empty owner: a pointer that owns nothing and copies without a count.
    return std::shared_ptr<const MethodDeclaration>(std::shared_ptr<const void>(), kept);
}

}  // namespace cloudsdk
