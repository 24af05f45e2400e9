// The port list and the hot-plug monitor against umockdev's fake device database.
#include <gtest/gtest.h>
#include <umockdev.h>

namespace {

TEST(UdevTestBed, PreloadIsInPlace) {
    UMockdevTestbed* bed = umockdev_testbed_new();
    EXPECT_TRUE(umockdev_in_mock_environment()) << "run through umockdev-wrapper";
    g_object_unref(bed);
}

} // namespace
