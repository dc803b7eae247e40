// Test main for tests that capture the console: the framework's own report is
// printed on the real stdout even while a test has stdout captured.
#include "SimConsole.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class UncapturedPrinter : public ::testing::TestEventListener {
public:
    explicit UncapturedPrinter(::testing::TestEventListener *inner) : inner_(inner) {}

    void OnTestProgramStart(const ::testing::UnitTest &u) override
    {
        call([&] { inner_->OnTestProgramStart(u); });
    }
    void OnTestIterationStart(const ::testing::UnitTest &u, int i) override
    {
        call([&] { inner_->OnTestIterationStart(u, i); });
    }
    void OnEnvironmentsSetUpStart(const ::testing::UnitTest &u) override
    {
        call([&] { inner_->OnEnvironmentsSetUpStart(u); });
    }
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest &u) override
    {
        call([&] { inner_->OnEnvironmentsSetUpEnd(u); });
    }
    void OnTestSuiteStart(const ::testing::TestSuite &s) override
    {
        call([&] { inner_->OnTestSuiteStart(s); });
    }
    void OnTestStart(const ::testing::TestInfo &t) override
    {
        call([&] { inner_->OnTestStart(t); });
    }
    void OnTestPartResult(const ::testing::TestPartResult &r) override
    {
        call([&] { inner_->OnTestPartResult(r); });
    }
    void OnTestEnd(const ::testing::TestInfo &t) override
    {
        call([&] { inner_->OnTestEnd(t); });
    }
    void OnTestSuiteEnd(const ::testing::TestSuite &s) override
    {
        call([&] { inner_->OnTestSuiteEnd(s); });
    }
    void OnEnvironmentsTearDownStart(const ::testing::UnitTest &u) override
    {
        call([&] { inner_->OnEnvironmentsTearDownStart(u); });
    }
    void OnEnvironmentsTearDownEnd(const ::testing::UnitTest &u) override
    {
        call([&] { inner_->OnEnvironmentsTearDownEnd(u); });
    }
    void OnTestIterationEnd(const ::testing::UnitTest &u, int i) override
    {
        call([&] { inner_->OnTestIterationEnd(u, i); });
    }
    void OnTestProgramEnd(const ::testing::UnitTest &u) override
    {
        call([&] { inner_->OnTestProgramEnd(u); });
    }

private:
    template <typename F>
    void call(F &&print)
    {
        simConsole_suspend();
        print();
        simConsole_resume();
    }
    std::unique_ptr<::testing::TestEventListener> inner_;
};

}  // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners &listeners = ::testing::UnitTest::GetInstance()->listeners();
    listeners.Append(new UncapturedPrinter(listeners.Release(listeners.default_result_printer())));
    return RUN_ALL_TESTS();
}
