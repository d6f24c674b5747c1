#pragma once

#include <string>

#include "driver/core/OwnerList.h"

namespace wedgecard {

class TEventManager;

// One event for the host.
class T1CEvent final : public TOwnedItem<TEventManager, T1CEvent> {
public:
    T1CEvent(TEventManager* Owner, std::string ASource, std::string AMessage, std::string AData)
        : TOwnedItem(Owner),
          Data(std::move(AData)),
          Source(std::move(ASource)),
          Message(std::move(AMessage)) {}

    const std::string Data;
    const std::string Source;
    const std::string Message;
};

// Events not yet acknowledged, oldest (the head) first. Owns them.
class TEventManager final : public TOwnerList<TEventManager, T1CEvent> {
public:
    T1CEvent* Add(std::string Source, std::string Message, std::string Data) {
        return new T1CEvent(this, std::move(Source), std::move(Message), std::move(Data));
    }
};

}  // namespace wedgecard
