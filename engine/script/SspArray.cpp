#include "engine/script/SspArray.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include <unistd.h>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"

namespace {

enum Member : int { kGetSize, kSetSize, kGetAt, kSetAt, kAdd, kInsertAt, kRemoveAt };

constexpr CSspMember kMembers[] = {
    {"GetSize", 0, kGetSize},   {"SetSize", 1, kSetSize}, {"GetAt", 1, kGetAt},
    {"SetAt", 2, kSetAt},       {"Add", 1, kAdd},         {"InsertAt", 2, kInsertAt},
    {"RemoveAt", 1, kRemoveAt},
};

// The index in the first argument, checked against the list's bounds.
size_t CheckedIndex(const CSspCall& call, size_t size) {
    int index = CSspValue::TextToInt(call.GetParamStr(0));
    if (index < 0 || static_cast<size_t>(index) >= size) {
        char text[96];
        std::snprintf(text, sizeof text, "Array index %d out of bound. Valid: 0 - %lld", index,
                      static_cast<long long>(size) - 1);
        throw CSspException(text, call.m_pPos);
    }
    return static_cast<size_t>(index);
}

// The most slots the machine's memory can back. A larger SetSize would otherwise run until
// the kernel kills the whole server for one page's request.
size_t MaxSlots() {
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) {
        return SIZE_MAX;
    }
    size_t perSlot = sizeof(CSspValue) + sizeof(std::unique_ptr<CSspValue>);
    return static_cast<size_t>(pages) / perSlot * static_cast<size_t>(pageSize);
}

}  // namespace

std::span<const CSspMember> CSspArray::Members() {
    return kMembers;
}

void CSspArray::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    const CSspMember& member = DispatchSspMember(kMembers, call, g_msg.m_unknownArrayFunction);
    result = CSspValue::FromInteger(0);
    try {
        switch (member.m_id) {
            case kGetSize:
                result = CSspValue::FromInteger(static_cast<int32_t>(m_elements.size()));
                return;
            case kSetSize: {
                int size = CSspValue::TextToInt(call.GetParamStr(0));
                m_elements.clear();
                if (size > 0 && static_cast<size_t>(size) > MaxSlots()) {
                    throw std::bad_alloc();
                }
                m_elements.reserve(static_cast<size_t>(std::max(size, 0)));
                for (int i = 0; i < size; ++i) {
                    m_elements.push_back(std::make_unique<CSspValue>());
                }
                break;
            }
            case kGetAt:
                result = *m_elements[CheckedIndex(call, m_elements.size())];
                return;
            case kSetAt: {
                size_t index = CheckedIndex(call, m_elements.size());
                *m_elements[index] = call.Arg(1);
                break;
            }
            case kAdd:
                m_elements.push_back(std::make_unique<CSspValue>(call.Arg(0)));
                break;
            case kInsertAt: {
                size_t index = CheckedIndex(call, m_elements.size());
                auto value = std::make_unique<CSspValue>(call.Arg(1));
                m_elements.insert(m_elements.begin() + static_cast<std::ptrdiff_t>(index),
                                  std::move(value));
                break;
            }
            case kRemoveAt:
                m_elements.erase(m_elements.begin() + static_cast<std::ptrdiff_t>(
                                                          CheckedIndex(call, m_elements.size())));
                break;
        }
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_outOfMemory, call.m_pPos);
    }
    result = CSspValue::FromInteger(1);
}
