#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>

namespace wedgecard {

template <class TList, class TItem>
class TOwnerList;

// An item that always knows the list holding it. Setting the owner moves the item to the end of
// the new list; destroying the item takes it off its list. Devices, events and keys are such
// items; the list owns them and destroys them when it is cleared or destroyed.
template <class TList, class TItem>
class TOwnedItem {
public:
    TOwnedItem(const TOwnedItem&) = delete;
    TOwnedItem& operator=(const TOwnedItem&) = delete;

    [[nodiscard]] TList* Owner() const noexcept { return FOwner; }

    void SetOwner(TList* Value) {
        if (Value == FOwner) {
            return;
        }
        if (FOwner != nullptr) {
            FOwner->Remove(this);
            FOwner = nullptr;
        }
        if (Value != nullptr) {
            Value->Append(this);
            FOwner = Value;
        }
    }

protected:
    explicit TOwnedItem(TList* Owner) { SetOwner(Owner); }
    ~TOwnedItem() { SetOwner(nullptr); }

private:
    TList* FOwner = nullptr;
};

// The owning side. TList derives from TOwnerList<TList, TItem>; TItem derives from
// TOwnedItem<TList, TItem>. Removal is by identity and cheap at both ends, where the driver
// takes keys, events and devices off.
template <class TList, class TItem>
class TOwnerList {
public:
    using TEntry = TOwnedItem<TList, TItem>;

    TOwnerList() = default;
    TOwnerList(const TOwnerList&) = delete;
    TOwnerList& operator=(const TOwnerList&) = delete;
    ~TOwnerList() { Clear(); }

    [[nodiscard]] int Count() const noexcept { return static_cast<int>(FItems.size()); }

    // None for a position outside the list.
    [[nodiscard]] TItem* Items(int Index) const noexcept {
        if (Index < 0 || Index >= Count()) {
            return nullptr;
        }
        return static_cast<TItem*>(FItems[static_cast<std::size_t>(Index)]);
    }

    [[nodiscard]] int IndexOf(const TItem* Item) const noexcept {
        const TEntry* entry = Item;
        const auto found = std::find(FItems.begin(), FItems.end(), entry);
        return found == FItems.end() ? -1 : static_cast<int>(found - FItems.begin());
    }

    // Destroys the items from the front.
    void Clear() noexcept {
        while (!FItems.empty()) {
            delete static_cast<TItem*>(FItems.front());
        }
    }

private:
    friend class TOwnedItem<TList, TItem>;

    void Append(TEntry* Item) { FItems.push_back(Item); }

    void Remove(TEntry* Item) noexcept {
        if (FItems.empty()) {
            return;
        }
        if (FItems.front() == Item) {
            FItems.pop_front();
        } else if (FItems.back() == Item) {
            FItems.pop_back();
        } else {
            const auto found = std::find(FItems.begin(), FItems.end(), Item);
            if (found != FItems.end()) {
                FItems.erase(found);
            }
        }
    }

    std::deque<TEntry*> FItems;
};

}  // namespace wedgecard
