#include "settings/face_selection.hpp"
#include "support/test_filter.hpp"

#include <gtest/gtest.h>

#include <set>

namespace veilcam {
namespace {

std::set<uint64_t> ids_of(const char* text) {
    test::TestFilter filter;
    parse_face_ids(filter.instance(), text);
    return {filter.instance().face_ids.begin(), filter.instance().face_ids.end()};
}

TEST(FaceIdList, ParsesSeparatorsAndDropsWhatIsNotAPositive64BitNumber) {
    struct Case {
        const char* text;
        std::set<uint64_t> ids;
    };
    const Case cases[] = {
        {"3, 5;7 9", {3, 5, 7, 9}},
        {"3,,5,", {3, 5}},
        {"1\t2", {1, 2}},
        {",,,", {}},
        {"", {}},
        {nullptr, {}},
        {"007", {7}},
        {"0,00", {}},
        {"12a,a12,-4,+4,4.5,0x10", {}},
        {"18446744073709551615", {18446744073709551615ull}},
        {"18446744073709551616", {}},
        {"1, 1, 1", {1}},
        {"1\n2", {12}},
        {"4\r\v\f2, 8", {42, 8}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ids_of(c.text), c.ids) << "list: " << (c.text ? c.text : "(null)");
    }
}

TEST(FaceIdList, ReplacesThePreviousIds) {
    test::TestFilter filter;
    parse_face_ids(filter.instance(), "1,2");
    parse_face_ids(filter.instance(), "3");
    EXPECT_EQ(filter.instance().face_ids, (std::unordered_set<uint64_t>{3}));
}

TEST(FaceSelection, ModeOneHidesOnlyListedFacesAnyOtherModeAllButListed) {
    struct Case {
        int32_t mode;
        const char* list;
        uint64_t id;
        bool obscured;
    };
    const Case cases[] = {
        {0, "", 5, true},   {1, "", 5, false},  {1, "2", 2, true},
        {1, "2", 3, false}, {0, "2", 2, false}, {0, "2", 3, true},
        {2, "2", 2, false}, {2, "2", 3, true},  {-1, "2", 3, true},
    };
    for (const Case& c : cases) {
        test::TestFilter filter([&](obs_data_t* s) {
            obs_data_set_int(s, "face_selection_mode", c.mode);
            obs_data_set_string(s, "excluded_face_ids", c.list);
        });
        EXPECT_EQ(should_obscure(filter.instance(), c.id), c.obscured)
            << "mode " << c.mode << ", list '" << c.list << "', id " << c.id;
    }
}

TEST(TrackingDevice, OpenclFormIsRewrittenToDml) {
    const std::pair<const char*, const char*> cases[] = {
        {"opencl:0:1", "dml:1"},  {"opencl:0:", "dml:"},  {"opencl::3", "dml:3"},
        {"opencl:1", "opencl:1"}, {"opencl:", "opencl:"}, {"OpenCL:0:1", "OpenCL:0:1"},
        {"cpu", "cpu"},           {"dml:2", "dml:2"},     {"opencl:2:3:4", "dml:3:4"},
    };
    for (const auto& [stored, expected] : cases) {
        EXPECT_EQ(normalize_tracking_device(stored), expected) << stored;
    }
}

TEST(TrackingDevice, OnlyDmlWithANonNegativeInt32IsAGpuRequest) {
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"dml:0", 0},
        {"dml:007", 7},
        {"dml:-0", 0},
        {"dml:01", 1},
        {"dml:2147483647", 2147483647},
        {"dml:", std::nullopt},
        {"dml:x", std::nullopt},
        {"dml:1x", std::nullopt},
        {"dml:-1", std::nullopt},
        {"dml: 1", std::nullopt},
        {"dml:+1", std::nullopt},
        {"DML:0", std::nullopt},
        {"dml:99999999999", std::nullopt},
        {"dml:2147483648", std::nullopt},
        {"cpu", std::nullopt},
        {"dm", std::nullopt},
    };
    for (const auto& [device, index] : cases) {
        EXPECT_EQ(parse_dml_device_index(device), index) << device;
    }
}

} // namespace
} // namespace veilcam
