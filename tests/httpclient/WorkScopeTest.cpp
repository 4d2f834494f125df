// Work notifications: every StartWork is matched by one FinishWork, also when
// the work or a handler raises, so that later work is reported again.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "IdComponent.h"

namespace {

TEST(WorkScope, EndsTheWorkOnEveryPath) {
    struct Case {
        const char* name;
        bool workRaises;
        bool endRaises;
        std::string caught;  // the error that reaches the caller
    };
    const Case cases[] = {
        {"normal end", false, false, ""},
        {"the work raises", true, false, "work"},
        {"the end handler raises", false, true, "end"},
        {"both raise: the first error wins", true, true, "work"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIdComponent component(nullptr);
        int begins = 0, ends = 0, afters = 0;
        component.OnWorkBegin = [&](TComponent*, TWorkMode, int64_t) { ++begins; };
        component.OnWorkEnd = [&](TComponent*, TWorkMode) {
            ++ends;
            if (c.endRaises) throw std::runtime_error("end");
        };
        auto work = [&](bool raises) {
            std::string caught;
            try {
                TIdWorkScope scope(component, TWorkMode::wmRead, 5, [&] { ++afters; });
                if (raises) throw std::runtime_error("work");
            } catch (const std::runtime_error& e) {
                caught = e.what();
            }
            return caught;
        };
        EXPECT_EQ(work(c.workRaises), c.caught);
        EXPECT_EQ(begins, 1);
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(afters, 1);
        // The record is back at rest: the next piece of work is reported anew.
        component.OnWorkEnd = [&](TComponent*, TWorkMode) { ++ends; };
        EXPECT_EQ(work(false), "");
        EXPECT_EQ(begins, 2);
        EXPECT_EQ(ends, 2);
    }
}

}  // namespace
