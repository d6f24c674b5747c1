#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/driver/core/DriverFixture.h"
#include "tests/support/LogCapture.h"

namespace wedgecard::test {
namespace {

const char* const CardRead = "ЧтениеКодаМагнитнойКарты";
const char* const DriverError = "ОшибкаВДрайвере";

using EventQueue = DriverTest;

TEST_F(EventQueue, DeliversTheFirstEventAtOnceAndHoldsTheNextUntilAcknowledged) {
    Driver.AddDataEvent("D1", CardRead, "@1a@2@3");
    Driver.AddDataEvent("D1", CardRead, "@1b@2@3");
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], (THostEvent{"D1", CardRead, "@1a@2@3"}));

    EXPECT_TRUE(Driver.EventProcessed(L"D1", true));
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1].Data, "@1b@2@3");

    EXPECT_TRUE(Driver.EventProcessed(L"D1", true));
    EXPECT_EQ(Received.size(), 2u);
    EXPECT_EQ(Driver.Events().Count(), 0);
}

TEST_F(EventQueue, RedeliversTheSameEventWhenTheHostReportsFailure) {
    TLogCapture log;
    Driver.AddDataEvent("D1", CardRead, "@1a@2@3");
    EXPECT_TRUE(Driver.EventProcessed(L"D1", false));
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1], Received[0]);
    const auto messages = log.Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "[DEBUG] TKBDDriver FireEvent"), 2);
    EXPECT_TRUE(log.Contains("[DEBUG] TKBDDriver AddDataEvent(D1; " + std::string(CardRead) +
                             "; @1[1]@2[0]@3[0])"));
}

TEST_F(EventQueue, AnswersAnAcknowledgementOfNothingWithAnErrorEvent) {
    EXPECT_FALSE(Driver.EventProcessed(L"", true));
    EXPECT_EQ(Driver.LastErrorCode(), 3);
    EXPECT_EQ(Driver.LastErrorText(), "Событие не посылалось");
    ASSERT_EQ(Received.size(), 1u);
    EXPECT_EQ(Received[0], (THostEvent{"0", DriverError, "Событие не посылалось"}));

    EXPECT_TRUE(Driver.EventProcessed(L"0", true));
    EXPECT_EQ(Driver.Events().Count(), 0);
    EXPECT_FALSE(Driver.EventProcessed(L"0", false));
    EXPECT_EQ(Received.size(), 2u);
}

TEST_F(EventQueue, QueuesTheErrorEventBehindAnOutstandingOne) {
    Driver.AddDataEvent("D1", CardRead, "x");
    Driver.OnEvent = [](const std::string&, const std::string&, const std::string&) {
        throw std::runtime_error("sink refused");
    };
    EXPECT_FALSE(Driver.EventProcessed(L"D1", false));
    EXPECT_EQ(Driver.LastErrorCode(), 255);
    EXPECT_EQ(Driver.LastErrorText(), "sink refused");
    ASSERT_EQ(Driver.Events().Count(), 2);
    EXPECT_EQ(Driver.Events().Items(0)->Data, "x");
    EXPECT_EQ(Driver.Events().Items(1)->Message, DriverError);
    EXPECT_EQ(Driver.Events().Items(1)->Data, "sink refused");
}

TEST_F(EventQueue, KeepsTheReportedErrorWhenTheErrorEventCannotBeDelivered) {
    Driver.OnEvent = [](const std::string&, const std::string&, const std::string&) {
        throw std::runtime_error("sink refused");
    };
    EXPECT_FALSE(Driver.EventProcessed(L"", true));
    EXPECT_EQ(Driver.LastErrorCode(), 3);
    EXPECT_EQ(Driver.Events().Count(), 1);
}

TEST_F(EventQueue, DeliversAnEventOfADeviceClosedSinceWithItsOldIdentifier) {
    const std::string id = OpenBenchDevice();
    Driver.AddDataEvent("other", CardRead, "first");
    Driver.AddDataEvent(id, CardRead, "second");
    EXPECT_TRUE(Driver.Close(Wide(id)));
    EXPECT_TRUE(Driver.EventProcessed(L"other", true));
    ASSERT_EQ(Received.size(), 2u);
    EXPECT_EQ(Received[1].Source, id);
    EXPECT_TRUE(Driver.EventProcessed(Wide(id), true));
}

TEST_F(EventQueue, NestsDeliveriesWhenTheHostAcknowledgesInsideItsHandler) {
    int depth = 0;
    int deepest = 0;
    OnHostEvent = [this, &depth, &deepest](const THostEvent& Event) {
        ++depth;
        deepest = std::max(deepest, depth);
        EXPECT_TRUE(Driver.EventProcessed(Wide(Event.Source), true));
        --depth;
    };
    Driver.OnEvent = nullptr;  // queue three before the host starts answering
    Driver.AddDataEvent("D", CardRead, "1");
    Driver.AddDataEvent("D", CardRead, "2");
    Driver.AddDataEvent("D", CardRead, "3");
    Driver.OnEvent = [this](const std::string& S, const std::string& M, const std::string& D) {
        Received.push_back(THostEvent{S, M, D});
        OnHostEvent(Received.back());
    };
    Driver.FireNextEvent();
    ASSERT_EQ(Received.size(), 3u);
    EXPECT_EQ(Received[0].Data, "1");
    EXPECT_EQ(Received[2].Data, "3");
    EXPECT_EQ(deepest, 3);
    EXPECT_EQ(Driver.Events().Count(), 0);
}

TEST_F(EventQueue, HandsTheHostTextsThatOutliveItsOwnAcknowledgement) {
    std::string sourceAfterAcknowledging;
    Driver.OnEvent = [this, &sourceAfterAcknowledging](const std::string& Source,
                                                       const std::string&, const std::string&) {
        Driver.EventProcessed(Wide(Source), true);  // destroys the queued event
        sourceAfterAcknowledging = Source;
    };
    Driver.AddDataEvent("the source", CardRead, "x");
    EXPECT_EQ(sourceAfterAcknowledging, "the source");
}

TEST_F(EventQueue, KeepsAnUndeliverableEventAtTheHeadWithoutAHandler) {
    Driver.OnEvent = nullptr;
    Driver.AddDataEvent("D", CardRead, "x");
    EXPECT_FALSE(Driver.EventProcessed(L"D", true));
    EXPECT_EQ(Driver.LastErrorCode(), 3);
    EXPECT_EQ(Driver.Events().Items(0)->Data, "x");
}

TEST_F(EventQueue, DropsPendingEventsWhenTheDriverGoes) {
    int delivered = 0;
    {
        TFakeGuids guids;
        TKBDDriver driver(TDriverServices{Thread, guids, Module, Dialog});
        driver.OnEvent = [&delivered](const std::string&, const std::string&, const std::string&) {
            ++delivered;
        };
        driver.AddDataEvent("D", CardRead, "1");
        driver.AddDataEvent("D", CardRead, "2");
    }
    EXPECT_EQ(delivered, 1);
}

}  // namespace
}  // namespace wedgecard::test
