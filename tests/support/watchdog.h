// A watchdog in every test program: a test that is still running long
// after any test should have ended fails with its own name and the stacks
// of the program's threads, well before ctest's timeout ends the program
// without a word.
//
// Each test may run for MORVELIX_TEST_WATCHDOG seconds (300 by default)
// without progress; the whole program, when ctest runs many tests in one,
// for MORVELIX_TEST_BUDGET seconds (no bound by default). A test bounds a
// step of its own with a Bound; each step that ends is progress, after
// which the test has its whole time again.
#pragma once

#include <chrono>
#include <string>

namespace test_watchdog {

// While it lives, the running test fails as hung once `limit` has passed;
// `what` names the step.
class Bound {
public:
    Bound(std::chrono::seconds limit, std::string what);
    ~Bound();
    Bound(const Bound&) = delete;
    Bound& operator=(const Bound&) = delete;

private:
    unsigned m_id;
};

} // namespace test_watchdog
