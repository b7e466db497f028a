#include "platform/automation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace zorvik {
namespace {

// A small object with one property, one method returning what it is told, and one that fails.
class FakeObject final : public AutomationObject {
public:
    InvokeResult invoke(InvokeKind kind, std::string_view member,
                        std::span<const Variant> args) override {
        if (same_member(member, "Value")) {
            if (kind == InvokeKind::Put && args.size() == 1) {
                value_ = args[0];
                return InvokeResult::success();
            }
            if (kind == InvokeKind::Get) {
                return InvokeResult::success(value_);
            }
        }
        if (same_member(member, "Echo") && kind == InvokeKind::Call && args.size() == 1) {
            return InvokeResult::success(args[0]);
        }
        if (same_member(member, "Fail")) {
            return InvokeResult::failure("it failed on purpose");
        }
        return InvokeResult::failure("unknown member");
    }

private:
    Variant value_;
};

class AutomationTest : public ::testing::Test {
protected:
    void SetUp() override {
        register_prog_id("Test.Fake", [] { return std::make_shared<FakeObject>(); });
    }
    void TearDown() override { unregister_prog_id("Test.Fake"); }
};

TEST_F(AutomationTest, CreatesByProgIdIgnoringCaseAndDrivesMembersByName) {
    ObjectRef obj;
    ASSERT_TRUE(create_object(obj, "test.FAKE"));
    ASSERT_FALSE(is_empty(obj));
    put_property(obj, "value", Variant::from_text("\xD6\xD0\xCE\xC4")); // 中文 in GB18030
    EXPECT_EQ(to_text(get_property(obj, "VALUE")), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(to_qstring(get_property(obj, "Value")), QStringLiteral("中文"));
    EXPECT_TRUE(last_error().empty());

    ObjectRef copy = obj;
    release(obj);
    EXPECT_TRUE(is_empty(obj));
    EXPECT_EQ(to_text(get_property(copy, "Value")), "\xD6\xD0\xCE\xC4")
        << "a copied reference keeps the object alive";
}

TEST_F(AutomationTest, FailuresGiveEmptyValuesAndALastErrorThatASuccessClears) {
    ObjectRef obj;
    ASSERT_TRUE(create_object(obj, "Test.Fake"));

    EXPECT_EQ(to_text(call_method(obj, "NoSuchMember")), "");
    EXPECT_FALSE(last_error().empty());

    call_method(obj, "Echo", {Variant(1)});
    EXPECT_TRUE(last_error().empty());

    EXPECT_EQ(to_real(call_method(obj, "Fail")), 0);
    EXPECT_EQ(last_error(), "it failed on purpose");

    ObjectRef empty;
    EXPECT_FALSE(to_logical(get_property(empty, "Value")));
    EXPECT_FALSE(last_error().empty());

    // A successful call whose result has no reading of the wanted type.
    call_method(obj, "Echo", {Variant(1)});
    EXPECT_EQ(to_real(call_method(obj, "Echo", {Variant::from_text("abc")})), 0);
    EXPECT_FALSE(last_error().empty());
    EXPECT_TRUE(is_empty(to_object(call_method(obj, "Echo", {Variant(3)}))));
    EXPECT_FALSE(last_error().empty());
}

TEST_F(AutomationTest, AProgIdThatCannotBeCreatedLeavesTheReferenceEmpty) {
    ObjectRef obj;
    EXPECT_FALSE(create_object(obj, "No.Such.Object"));
    EXPECT_TRUE(is_empty(obj));
    EXPECT_FALSE(last_error().empty());

    {
        ScopedProgIdRemoval removed("Test.Fake");
        EXPECT_FALSE(create_object(obj, "Test.Fake"));
    }
    EXPECT_TRUE(create_object(obj, "Test.Fake")) << "the guard puts the factory back";

    register_prog_id("Test.Null", [] { return ObjectRef(); });
    EXPECT_FALSE(create_object(obj, "Test.Null"));
    EXPECT_TRUE(is_empty(obj));
    unregister_prog_id("Test.Null");
}

struct ConversionCase {
    const char* name;
    Variant value;
    bool text_ok;
    Text text;
    bool real_ok;
    double real;
    bool logical_ok;
    bool logical;
};

class ConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, FollowsTheStandardConversions) {
    const ConversionCase& c = GetParam();

    clear_last_error();
    EXPECT_EQ(to_text(c.value), c.text);
    EXPECT_EQ(last_error().empty(), c.text_ok);

    clear_last_error();
    EXPECT_DOUBLE_EQ(to_real(c.value), c.real);
    EXPECT_EQ(last_error().empty(), c.real_ok);

    clear_last_error();
    EXPECT_EQ(to_logical(c.value), c.logical);
    EXPECT_EQ(last_error().empty(), c.logical_ok);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ConversionTest,
    ::testing::Values(
        ConversionCase{"empty", Variant(), true, "", true, 0, true, false},
        ConversionCase{"null", Variant::null(), false, "", false, 0, false, false},
        ConversionCase{"true", Variant(true), true, "True", true, -1, true, true},
        ConversionCase{"false", Variant(false), true, "False", true, 0, true, false},
        ConversionCase{"int", Variant(std::int32_t{-42}), true, "-42", true, -42, true, true},
        ConversionCase{"zero", Variant(0.0), true, "0", true, 0, true, false},
        ConversionCase{"third", Variant(1.0 / 3), true, "0.333333333333333", true, 1.0 / 3, true,
                       true},
        ConversionCase{"numeric_text", Variant::from_text(" 12.5 "), true, " 12.5 ", true, 12.5,
                       true, true},
        ConversionCase{"true_text", Variant::from_text("TRUE"), true, "TRUE", false, 0, true, true},
        ConversionCase{"plain_text", Variant::from_text("Alice"), true, "Alice", false, 0, false,
                       false},
        ConversionCase{"empty_text", Variant::from_text(""), true, "", false, 0, false, false},
        ConversionCase{"bytes", Variant(Bytes{1, 2}), false, "", false, 0, false, false}),
    [](const ::testing::TestParamInfo<ConversionCase>& info) { return info.param.name; });

TEST(AutomationIntegerTest, DropsTheFractionAndRejectsWhatDoesNotFit) {
    clear_last_error();
    EXPECT_EQ(to_integer(Variant(12.9)), 12);
    EXPECT_EQ(to_integer(Variant(-2.7)), -2);
    EXPECT_TRUE(last_error().empty());
    EXPECT_EQ(to_integer(Variant(1e12)), 0);
    EXPECT_FALSE(last_error().empty());
    clear_last_error();
    EXPECT_EQ(to_integer(Variant(std::nan(""))), 0);
    EXPECT_FALSE(last_error().empty());
}

TEST(AutomationBytesTest, ByteArraysPassUnchanged) {
    const Bytes with_zero{'a', 0, 'b', 0xFF};
    EXPECT_EQ(to_bytes(Variant(with_zero)), with_zero);
    EXPECT_TRUE(to_bytes(Variant()).empty());
}

TEST(AutomationBytesTest, SharedBytesAreMovedOutOnlyFromTheirLastHolder) {
    auto body = std::make_shared<Bytes>(Bytes{1, 2, 3});
    const unsigned char* storage = body->data();

    {
        Variant handed_out(body); // the object keeps `body`, a response body it can read again
        EXPECT_EQ(to_bytes(std::move(handed_out)), (Bytes{1, 2, 3}));
        EXPECT_EQ(*body, (Bytes{1, 2, 3})) << "a shared body is copied, never taken";
    }

    Variant last(std::move(body));
    const Bytes taken = to_bytes(std::move(last));
    EXPECT_EQ(taken, (Bytes{1, 2, 3}));
    EXPECT_EQ(taken.data(), storage) << "the last holder gives its bytes up without a copy";
}

TEST(ComCounterTest, IsPerThreadAndNeverNegative) {
    const int start = co_initialize_depth();
    co_initialize();
    co_initialize();
    EXPECT_EQ(co_initialize_depth(), start + 2);
    co_uninitialize();
    co_uninitialize();
    EXPECT_EQ(co_initialize_depth(), start);
    for (int i = 0; i <= start; ++i) {
        co_uninitialize();
    }
    EXPECT_EQ(co_initialize_depth(), 0);
}

} // namespace
} // namespace zorvik
