// IFNEW: a change empties what was remembered for the names tested after
// it; 16 names are remembered (the 17th takes the first slot); remembered
// values are cut to 255 characters.
#include "support.hpp"

namespace vexil {
namespace {

class IfNew : public test::Fresh {
protected:
    static bool is_new(std::string name) { return test_if_new(name.data()); }
};

TEST_F(IfNew, NewWhenTheValueChanged) {
    // Each step: set a variable (when named), then test a name.
    struct { const char *set, *value, *name; bool is_new; } steps[] = {
        {"g", "", "g", true}, {nullptr, nullptr, "g", false}, {"a", "1", "a", true}, {"b", "1", "b", true}, {"c", "1", "c", true},
        {"a", "2", "a", true},  // b and c, tested after a, are emptied
        {nullptr, nullptr, "c", true}, {nullptr, nullptr, "b", true}, {nullptr, nullptr, "c", true},
        {nullptr, nullptr, "g", false},  // names tested before a keep their values
        {nullptr, nullptr, "nobody", true}, {"c", "2", "c", true},
        {nullptr, nullptr, "nobody", false},  // emptied and undefined: not new
    };
    for (const auto& s : steps) {
        if (s.set) set_variable(s.set, s.value);
        EXPECT_EQ(is_new(s.name), s.is_new) << (s.set ? s.set : "") << " -> " << s.name;
    }
}

TEST_F(IfNew, Remembers255CharactersOf16Names) {
    const std::string longer = std::string(255, 'v') + std::string(45, 'z');
    for (auto [length, fresh] : {std::pair{300, true}, {255, false}, {254, true}}) {
        set_variable("v", longer.substr(0, length));
        EXPECT_EQ(is_new("v"), fresh) << length;
    }
    reset();
    auto name = [](int i) { return "n" + std::to_string(i); };
    for (int i = 0; i <= 16; ++i) set_variable(name(i), "x");
    for (int i = 0; i <= 16; ++i) EXPECT_TRUE(is_new(name(i))) << i;  // n16 replaces n0
    for (int i = 1; i <= 16; ++i) EXPECT_FALSE(is_new(name(i))) << i;
    EXPECT_TRUE(is_new("n0"));  // forgotten: new again, back in the first slot
    EXPECT_TRUE(is_new("n16"));
    for (int i = 1; i < 16; ++i) EXPECT_FALSE(is_new(name(i))) << i;
}

}  // namespace
}  // namespace vexil
