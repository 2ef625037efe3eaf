#pragma once
// One card application in one reader, seen by the application as one
// PKCS#11 slot. All slots of one card share its PC/SC card handle.

#include <winscard.h>

#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

struct Slot {
    uint32_t tokenId = 0;
    uint32_t slotId = 0;
    std::string readerName;
    std::string displayName;  // reader name, "; " and the application label
    SCARDHANDLE cardHandle = 0;
    uint32_t readerState = 0;      // PC/SC event state masked with 0x1F0
    uint32_t tokenPresent = 0;     // 1 while a card is present
    uint32_t eventFlag = 0;        // 1 when C_WaitForSlotEvent is to report it
    uint32_t transactionOpen = 0;  // 1 while a PC/SC transaction is open on the card
    std::unique_ptr<boost::posix_time::ptime> invalidatedAt;  // null while valid

    virtual ~Slot() = default;
};
