#include "text/Texts.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

TEST(TextsTable, KeepsTheProgramsTextsExactly) {
    // Blanks, line breaks and spellings are part of the text: status panes, message boxes and
    // printed pages are laid out with them, and translations are checked against them.
    EXPECT_STREQ(
        BuiltinText(IDS_CAUTION),
        " !!! Caution !!! \n Only authorized personnel is allowed to make adjustments on this valve. \n "
        "Provide for protection against uncontrolled movement of equipment when putting the valve into "
        "operation. \n Modifications to the valve settings may create conditions hazardous to persons or "
        "damage to property.");
    EXPECT_STREQ(BuiltinText(1), "Data's are changed. Do you really want to cancel?");
    EXPECT_STREQ(BuiltinText(33), "Character not allowed! ");
    EXPECT_STREQ(BuiltinText(106), "Communication Error");
    EXPECT_STREQ(BuiltinText(333), "Baudrate Error");
    EXPECT_STREQ(BuiltinText(348), "Controller Firmware must be greater 0.00");
    EXPECT_STREQ(BuiltinText(32024), "Quillon Software");
    EXPECT_STREQ(BuiltinText(134), " -- ");
    EXPECT_STREQ(BuiltinText(170), "Close only allowed\n if 'Serial Setpoint' is DISABLED (OFF) ");
    EXPECT_STREQ(BuiltinText(367),
                 " !!! Caution !!! \n This funktion can create dangerous setting \n on your "
                 "machine \n and may create conditions hazardous \n to persons or damage to property");
    EXPECT_STREQ(BuiltinText(368), " !!! Caution !!! \n Are you sure to start Auto-Tune ? ");
    EXPECT_STREQ(BuiltinText(25), "Could not open File\n");
    EXPECT_STREQ(BuiltinText(3), "Project: MMMMMMMMMMMMMMMMMMMMMMMM");
    EXPECT_STREQ(BuiltinText(9), "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM");
    EXPECT_STREQ(BuiltinText(114), "About Orvo - Quillon Software ");
    EXPECT_STREQ(BuiltinText(285), "Flow in m³/min");
    // Texts that dialogs show under another caption than their resource's.
    EXPECT_STREQ(BuiltinText(179), "Span dP DAC");
    EXPECT_STREQ(BuiltinText(180), "Span P2 DAC");
    EXPECT_STREQ(BuiltinText(315), "Alert Threshold P2 ");
    EXPECT_STREQ(BuiltinText(356), "Limit");
    EXPECT_STREQ(BuiltinText(225), "Analog Input 2");
}

TEST(TextsTable, HoldsEveryIdFromOneTo374TheLineMessagesAndTheTitleOnly) {
    auto table = BuiltinTexts();
    ASSERT_EQ(table.size(), 467u);
    for (unsigned id = 400; id <= 407; ++id)
        EXPECT_EQ(table[374 + id - 400].id, id);
    // The connection field, the stale note, the port warning, the menu's reasons and the help.
    for (unsigned id = 410; id <= 429; ++id)
        EXPECT_EQ(BuiltinText(id) != nullptr, id != 419 && id != 423) << id;
    EXPECT_NE(BuiltinText(430), nullptr) << "the serial setpoint that may still run";
    EXPECT_NE(BuiltinText(431), nullptr) << "closing while it may still run";
    EXPECT_NE(BuiltinText(440), nullptr) << "a Close that keeps";
    for (unsigned id = 450; id <= 456; ++id)
        EXPECT_NE(BuiltinText(id), nullptr) << id << ": the exports";
    for (unsigned id = 470; id <= 473; ++id)
        EXPECT_NE(BuiltinText(id), nullptr)
            << id << ": the device list, the first-start mapping, a device back";
    EXPECT_NE(BuiltinText(480), nullptr) << "an unknown acquisition mode";
    for (unsigned id = 495; id <= 497; ++id)
        EXPECT_NE(BuiltinText(id), nullptr)
            << id << ": the valve history refused, an entry lost, in the outbox";
    for (unsigned id = 500; id <= 526; ++id)
        EXPECT_NE(BuiltinText(id), nullptr) << id << ": the valve history dialog";
    for (unsigned id = 600; id <= 619; ++id)
        EXPECT_NE(BuiltinText(id), nullptr) << id << ": the step figures";
    for (unsigned id = 1; id <= 374; ++id) {
        ASSERT_NE(BuiltinText(id), nullptr) << id;
        EXPECT_EQ(table[id - 1].id, id);
        EXPECT_EQ(BuiltinText(id), table[id - 1].text) << "lookup must find the table's own entry";
    }
    EXPECT_EQ(table.back().id, 32024u);
    for (const auto& e : table) {
        std::string text = e.text;
        // The help language is empty: the English guide lies in no language folder.
        EXPECT_EQ(text.empty(), e.id == IDS_HELP_LANGUAGE) << e.id;
        // The program's own texts are never printf formats; a translation is checked against this.
        EXPECT_TRUE(PrintfConversions(text).empty()) << e.id << " " << text;
    }
}

TEST(TextsTable, UnknownIdsHaveNoText) {
    for (unsigned id : {0u, 375u, 1000u, 32023u, 32025u, 65535u, UINT_MAX}) {
        EXPECT_EQ(BuiltinText(id), nullptr) << id;
        EXPECT_EQ(TextSource::Builtin(id), " IDS " + std::to_string(id) + " not found ");
        EXPECT_EQ(LoadText(id), " IDS " + std::to_string(id) + " not found ");
    }
    EXPECT_EQ(LoadText(106), "Communication Error");
}

class MapLibrary : public ITextLibrary {
public:
    explicit MapLibrary(std::map<unsigned, std::string> texts) : texts_(std::move(texts)) {}
    std::optional<std::string> Find(unsigned id) const override {
        auto it = texts_.find(id);
        if (it == texts_.end()) return std::nullopt;
        return it->second;
    }

private:
    std::map<unsigned, std::string> texts_;
};

TEST(TextSource, TakesTheLibrarysTextAndFallsBackWithAReportOnEveryLookup) {
    MapLibrary library({{106, "Kommunikationsfehler"}, {500, "nur in der Bibliothek"}});
    std::vector<std::pair<std::string, std::string>> reports;
    TextSource texts(&library, [&](const std::string& text, const std::string& caption) {
        reports.emplace_back(text, caption);
    });
    ASSERT_TRUE(texts.HasLibrary());

    EXPECT_EQ(texts.Get(106), "Kommunikationsfehler");
    EXPECT_EQ(texts.Get(500), "nur in der Bibliothek");
    EXPECT_TRUE(reports.empty());

    // Missing from the library: the program's own text, and one report per lookup, not per start.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(texts.Get(333), "Baudrate Error");
    ASSERT_EQ(reports.size(), 3u);
    for (const auto& r : reports) {
        EXPECT_EQ(r.first, " IDS 333 not found ");
        EXPECT_EQ(r.second, " Lang Dll ");
    }

    // Missing everywhere: reported, and the not-found text shown.
    EXPECT_EQ(texts.Get(9999), " IDS 9999 not found ");
    EXPECT_EQ(reports.size(), 4u);

    // Texts that must never be translated.
    EXPECT_EQ(TextSource::Builtin(106), "Communication Error");
}

TEST(TextSource, WithoutLibraryGivesTheProgramsTexts) {
    TextSource texts;
    EXPECT_FALSE(texts.HasLibrary());
    EXPECT_EQ(texts.Get(IDS_APP_TITLE), "Quillon Software");
    EXPECT_EQ(texts.Get(375), " IDS 375 not found ");
    // A library without a reporter still falls back quietly.
    MapLibrary empty({});
    TextSource quiet(&empty, nullptr);
    EXPECT_EQ(quiet.Get(1), BuiltinText(1));
}

TEST(TextSource, SilentLookupFallsBackWithoutAReport) {
    MapLibrary library({{410, "{0} {1} \u2014 nicht verbunden"}});
    int reports = 0;
    TextSource texts(&library, [&](const std::string&, const std::string&) { ++reports; });
    EXPECT_EQ(texts.GetSilently(410), "{0} {1} \u2014 nicht verbunden");
    EXPECT_EQ(texts.GetSilently(411), "{0} {1} \u2014 {2} baud");
    EXPECT_EQ(texts.GetSilently(9999), " IDS 9999 not found ");
    EXPECT_EQ(reports, 0);
    // Texts newer than the first libraries are never reported missing, however they are looked up;
    // the ones the libraries have always had are.
    EXPECT_EQ(texts.Get(407).rfind("The valve's controller settings could not be read", 0), 0u);
    EXPECT_EQ(texts.Get(431).rfind("The valve may still follow", 0), 0u);
    EXPECT_EQ(texts.Get(496), "This job was not recorded in the valve history: {0}");
    EXPECT_EQ(texts.Get(526).rfind("Entries waiting in the outbox", 0), 0u);
    EXPECT_EQ(reports, 0);
    texts.Get(406);
    texts.Get(430);
    texts.Get(1359);
    EXPECT_EQ(reports, 3);
}

TEST(FillPlaceholders, PutsEachValueInItsPlaceOnce) {
    EXPECT_EQ(FillPlaceholders("{0} {1} \u2014 {2} baud", {"COM1", "/dev/ttyUSB0", "57600"}),
              "COM1 /dev/ttyUSB0 \u2014 57600 baud");
    // A translation may reorder them; missing values and unknown braces stay as written.
    EXPECT_EQ(FillPlaceholders("{1} an {0}", {"COM2", "/dev/ttyS1"}), "/dev/ttyS1 an COM2");
    EXPECT_EQ(FillPlaceholders("{0} {3} {x} {", {"a"}), "a {3} {x} {");
    // A value that holds a placeholder is not filled again.
    EXPECT_EQ(FillPlaceholders("{0}: {1}", {"/dev/{1}", "gone"}), "/dev/{1}: gone");
}

TEST(PrintfConversions, FindsConversionsAndLeavesPerCentCharactersAlone) {
    using V = std::vector<std::string>;
    EXPECT_EQ(PrintfConversions(" IDS %u not found "), V{"%u"});
    EXPECT_EQ(PrintfConversions("LANGUAGE DLL missing '%s' !"), V{"%s"});
    EXPECT_EQ(PrintfConversions("%s %1.2f %s [%s, %s]"), (V{"%s", "%1.2f", "%s", "%s", "%s"}));
    EXPECT_EQ(PrintfConversions("%3d %%"), V{"%3d"});
    EXPECT_EQ(PrintfConversions("0x%08X "), V{"%08X"});
    EXPECT_EQ(PrintfConversions("%-5ld|%lld|%hhu|%zu|%.*s|%*d"),
              (V{"%-5ld", "%lld", "%hhu", "%zu", "%.*s", "%*d"}));
    EXPECT_EQ(PrintfConversions("Value / %"), V{});
    EXPECT_EQ(PrintfConversions("Normal (0 - 100%)"), V{});
    EXPECT_EQ(PrintfConversions("Inverse (100% - 0)"), V{});
    EXPECT_EQ(PrintfConversions("100%% sure"), V{});
    // A blank is a printf flag: "% d" is a conversion, and "10 % erreicht" holds "% e".
    EXPECT_EQ(PrintfConversions("10 % erreicht"), V{"% e"});
    EXPECT_EQ(PrintfConversions("%"), V{});
    EXPECT_EQ(PrintfConversions("%1.2"), V{});
}

} // namespace
