#pragma once
// IVectorView<T> over a fixed list of the component's objects, walked by index as Windows' views
// are: GetAt past the end fails with E_BOUNDS.
#include "Object.h"

#include <vector>

namespace winrt_bluetooth {

template <class View, class Item>
class VectorView final : public Object<View> {
public:
    VectorView(const wchar_t *className, std::vector<ComRef<Item>> items)
        : Object<View>(className), items_(std::move(items))
    {
    }
    HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, Item **item) override
    {
        if (!item)
            return E_POINTER;
        *item = nullptr;
        return index < items_.size() ? Lend(items_[index], item) : E_BOUNDS;
    }
    HRESULT STDMETHODCALLTYPE get_Size(UINT32 *size) override { return Give(size, items_.size()); }
    HRESULT STDMETHODCALLTYPE IndexOf(Item *value, UINT32 *index, boolean *found) override
    {
        if (!index || !found)
            return E_POINTER;
        *index = 0;
        *found = false;
        for (UINT32 i = 0; i < items_.size(); ++i) {
            if (items_[i].Get() == value) {
                *index = i;
                *found = true;
                break;
            }
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMany(UINT32 start, UINT32 capacity, Item **items, UINT32 *actual) override
    {
        if (!actual || (capacity != 0 && !items))
            return E_POINTER;
        *actual = 0;
        if (start > items_.size())
            return E_BOUNDS;
        for (UINT32 i = start; i < items_.size() && *actual < capacity; ++i)
            Lend(items_[i], &items[(*actual)++]);
        return S_OK;
    }

private:
    const std::vector<ComRef<Item>> items_;
};

} // namespace winrt_bluetooth
