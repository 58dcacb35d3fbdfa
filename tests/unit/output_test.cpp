// The run's output: template text is collected and written in blocks, yet
// every byte reaches its stream in the order it was written, whoever wrote
// it, and a web answer's header still comes first.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/output.hpp"
#include "driver/run.hpp"

namespace vexil {
namespace {

// A run whose answer is a memory stream.
class CollectedOutput : public ::testing::Test {
protected:
    void SetUp() override {
        answer_ = open_memstream(&text_, &size_);
        ASSERT_NE(answer_, nullptr);
        run_ = std::make_unique<vexil::Run>(RunIo{nullptr, nullptr, answer_, false});
        active_ = std::make_unique<ActiveRun>(*run_);
    }
    void TearDown() override {
        active_.reset();
        run_.reset();
        if (answer_ != nullptr) std::fclose(answer_);
        std::free(text_);
    }
    // What reached the answer stream so far.
    std::string answer() {
        std::fflush(answer_);
        return std::string(text_, size_);
    }
    std::FILE* answer_ = nullptr;

private:
    char* text_ = nullptr;
    std::size_t size_ = 0;
    std::unique_ptr<vexil::Run> run_;
    std::unique_ptr<ActiveRun> active_;
};

TEST_F(CollectedOutput, ReportsAndTextKeepTheirOrder) {
    OutputChannel output{standard_output()};
    write_text("one ", output);
    write_fragment("<B>two</B> ", output);
    report_error("three");
    write_text("four", output);
    write_text("\n", output);
    write_text("\n", output);  // a lone newline after a newline is dropped
    flush_output();
    EXPECT_EQ(answer(), "one <B>two</B> Vexil Error: three\n\nfour\n");
}

TEST_F(CollectedOutput, WebHeaderComesFirst) {
    output_state().web_run = true;
    OutputChannel output{standard_output()};
    write_fragment("<P>", output);
    write_text("text", output);
    flush_output();
    EXPECT_EQ(answer(), "Content-type: text/html\n\n<P>text");
}

TEST_F(CollectedOutput, TwoStreamsAndLargeTextsInOrder) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    OutputChannel page{standard_output()};
    OutputChannel other{file};
    std::string large(200000, 'x');
    std::string expected_page, expected_file;
    for (int i = 0; i < 3; ++i) {
        std::string small = "<" + std::to_string(i) + ">";
        write_text(small, page);
        expected_page += small;
        write_fragment(large, other);
        expected_file += large;
        write_text(small, other);
        expected_file += small;
        write_fragment(large, page);
        expected_page += large;
    }
    flush_output();
    EXPECT_EQ(answer(), expected_page);
    std::rewind(file);
    std::string in_file(expected_file.size() + 1, '\0');
    in_file.resize(std::fread(in_file.data(), 1, in_file.size(), file));
    std::fclose(file);
    EXPECT_EQ(in_file, expected_file);
}

}  // namespace
}  // namespace vexil
