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

namespace {

CSspValue Done() {
    return CSspValue::FromInteger(1);
}

void GetSize(CSspArray& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromInteger(static_cast<int32_t>(self.m_elements.size()));
}
void SetSize(CSspArray& self, CSspCall& call, CSspValue& result) {
    int size = CSspValue::TextToInt(call.GetParamStr(0));
    self.m_elements.clear();
    if (size > 0 && static_cast<size_t>(size) > MaxSlots()) {
        throw std::bad_alloc();
    }
    self.m_elements.reserve(static_cast<size_t>(std::max(size, 0)));
    for (int i = 0; i < size; ++i) {
        self.m_elements.push_back(std::make_unique<CSspValue>());
    }
    result = Done();
}
void GetAt(CSspArray& self, CSspCall& call, CSspValue& result) {
    result = *self.m_elements[CheckedIndex(call, self.m_elements.size())];
}
void SetAt(CSspArray& self, CSspCall& call, CSspValue& result) {
    size_t index = CheckedIndex(call, self.m_elements.size());
    *self.m_elements[index] = call.Arg(1);
    result = Done();
}
void Add(CSspArray& self, CSspCall& call, CSspValue& result) {
    self.m_elements.push_back(std::make_unique<CSspValue>(call.Arg(0)));
    result = Done();
}
void InsertAt(CSspArray& self, CSspCall& call, CSspValue& result) {
    size_t index = CheckedIndex(call, self.m_elements.size());
    auto value = std::make_unique<CSspValue>(call.Arg(1));
    self.m_elements.insert(self.m_elements.begin() + static_cast<std::ptrdiff_t>(index),
                           std::move(value));
    result = Done();
}
void RemoveAt(CSspArray& self, CSspCall& call, CSspValue& result) {
    size_t index = CheckedIndex(call, self.m_elements.size());
    self.m_elements.erase(self.m_elements.begin() + static_cast<std::ptrdiff_t>(index));
    result = Done();
}

constexpr int kAny = kSspAnyArgs;
constexpr CSspMemberRow<CSspArray&> kTable[] = {
    {"GetSize", 0, kAny, &GetSize},   {"SetSize", 1, kAny, &SetSize},
    {"GetAt", 1, kAny, &GetAt},       {"SetAt", 2, kAny, &SetAt},
    {"Add", 1, kAny, &Add},           {"InsertAt", 2, kAny, &InsertAt},
    {"RemoveAt", 1, kAny, &RemoveAt},
};

}  // namespace

void CSspArray::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    result = CSspValue::FromInteger(0);
    try {
        DispatchSspMemberRow(kTable, call, result, g_msg.m_unknownArrayFunction, *this);
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_outOfMemory, call.m_pPos);
    }
}
