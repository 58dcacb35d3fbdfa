// IFNEW's limits: 16 names are remembered (the 17th takes the first slot);
// remembered values are cut to 255 characters.
#include "support.hpp"

namespace vexil {
namespace {

class IfNew : public test::Fresh {
protected:
    static bool is_new(std::string name) { return test_if_new(name.data()); }
};

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
