// A run served by a persistent worker: its environment is the request's
// parameters (site settings fall back to the worker's own environment,
// request variables never do), its body and answer are the request's
// streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/output.hpp"
#include "base/policy.hpp"
#include "base/run_io.hpp"
#include "driver/run.hpp"
#include "request/form_data.hpp"

namespace vexil {
namespace {

// A run with the request parameters `params`, and the worker's own
// environment holding a request variable and a setting of its own.
class WorkerRun : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("QUERY_STRING", "input=worker.htm", 1);
        setenv("VEXIL_CHARSET", "latin1", 1);
        unsetenv("VEXIL_OPEN");
    }
    void TearDown() override {
        active_.reset();
        run_.reset();
        unsetenv("QUERY_STRING");
        unsetenv("VEXIL_CHARSET");
    }
    void start(const char* const* params, std::FILE* input = nullptr, std::FILE* output = nullptr) {
        active_.reset();
        run_ = std::make_unique<vexil::Run>(RunIo{params, input, output, true});
        active_ = std::make_unique<ActiveRun>(*run_);
    }

private:
    std::unique_ptr<vexil::Run> run_;
    std::unique_ptr<ActiveRun> active_;
};

// Request variables come only from the parameters; settings from the
// parameters, else from the worker's own environment.
TEST_F(WorkerRun, VariablesFromTheParametersSettingsElseFromTheWorker) {
    const char* params[] = {"REQUEST_METHOD=GET", "PATH_INFO=/p.htm", nullptr};
    start(params);
    EXPECT_STREQ(run_env("REQUEST_METHOD"), "GET");
    EXPECT_STREQ(run_env("PATH_INFO"), "/p.htm");
    EXPECT_EQ(run_env("QUERY_STRING"), nullptr);  // the worker's own is not the request's
    EXPECT_EQ(run_env("PATH"), nullptr);
    EXPECT_STREQ(run_env("VEXIL_CHARSET"), "latin1");
    const char* server_given[] = {"REQUEST_METHOD=GET", "VEXIL_CHARSET=koi8-r", nullptr};
    start(server_given);
    EXPECT_STREQ(run_env("VEXIL_CHARSET"), "koi8-r");
}

TEST_F(WorkerRun, AVisitorsHeaderSetsNoSetting) {
    const char* params[] = {"REQUEST_METHOD=GET", "HTTP_VEXIL_OPEN=1", "HTTP_VEXIL_CHARSET=x", nullptr};
    start(params);
    RunPolicy& policy = run_policy();
    load_web_policy(policy);
    EXPECT_TRUE(policy.locked);
    EXPECT_EQ(policy.charset, "latin1");
}

TEST_F(WorkerRun, BodyAndAnswerAreTheRequestsStreams) {
    std::string body = "a=1&b=two%21";
    std::FILE* input = fmemopen(body.data(), body.size(), "r");
    char* answer_text = nullptr;
    std::size_t answer_size = 0;
    std::FILE* answer = open_memstream(&answer_text, &answer_size);
    const char* params[] = {"REQUEST_METHOD=POST", "CONTENT_LENGTH=12",
                            "CONTENT_TYPE=application/x-www-form-urlencoded", nullptr};
    start(params, input, answer);
    ASSERT_TRUE(read_form_data().is_ok());
    EXPECT_STREQ(form_value("a"), "1");
    EXPECT_STREQ(form_value("b"), "two!");
    EXPECT_EQ(standard_output(), answer);
    write_content_type("text/plain");
    std::fclose(answer);
    std::fclose(input);
    EXPECT_EQ(std::string(answer_text, answer_size), "Content-type: text/plain\n\n");
    std::free(answer_text);
}

TEST_F(WorkerRun, ChildEnvironmentIsTheWorkersWithTheRequestsOnTop) {
    const char* params[] = {"REQUEST_METHOD=GET", "QUERY_STRING=x=1", nullptr};
    start(params);
    std::vector<std::string> env = run_child_environment();
    auto count = [&](const std::string& item) { return std::count(env.begin(), env.end(), item); };
    EXPECT_EQ(std::count_if(env.begin(), env.end(), [](const std::string& item) {
                  return item.starts_with("QUERY_STRING=");
              }), 1);
    EXPECT_EQ(count("QUERY_STRING=x=1"), 1);
    EXPECT_EQ(count("REQUEST_METHOD=GET"), 1);
    EXPECT_EQ(count("VEXIL_CHARSET=latin1"), 1);
}

}  // namespace
}  // namespace vexil
