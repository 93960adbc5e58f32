#include "ModelsTestSupport.h"
#include "VantorModels/AppList.h"
#include "VantorModels/SettingsModel.h"

#include <QTextDocument>
#include <functional>
#include <gtest/gtest.h>

namespace vantor {
namespace {

using scroll::ScrollSettings;

// A model whose apps are known by name, listing the allowed ones, and a list over it that
// writes down its structural signals: "-first..last" for rows removed, "+first..last" for rows
// inserted, "reset" and "changed" (any rows' data).
struct Listed {
    SettingsModel model{ScrollSettings{}};
    AppList list{model};
    std::vector<std::string> signals;

    Listed(const std::vector<std::string>& allowed, std::map<std::string, QString> names = {}) {
        ScrollSettings settings;
        settings.excludedApps.clear();
        settings.allowedApps = {allowed.begin(), allowed.end()};
        for (const auto& id : allowed)
            know(id, names.count(id) ? names[id] : QString::fromStdString(id).toUpper());
        model.setSettings(settings);
        list.refresh();
        auto range = [this](const char* sign) {
            return [this, sign](const QModelIndex&, int first, int last) {
                signals.push_back(sign + std::to_string(first) + ".." + std::to_string(last));
            };
        };
        QObject::connect(&list, &QAbstractItemModel::rowsRemoved, range("-"));
        QObject::connect(&list, &QAbstractItemModel::rowsInserted, range("+"));
        QObject::connect(&list, &QAbstractItemModel::modelReset,
                         [this] { signals.push_back("reset"); });
        QObject::connect(&list, &QAbstractItemModel::dataChanged,
                         [this] { signals.push_back("changed"); });
    }
    void know(const std::string& id, const QString& name) {
        model.apps.insert_or_assign(id, ListedApp(id, name, QIcon(), true));
    }
    std::vector<std::string> rows() const {
        std::vector<std::string> ids;
        for (int row = 0; row < list.rowCount(); ++row)
            ids.push_back(list.app(row).bundleID);
        return ids;
    }
};

TEST(AppList, aChangeMovesOnlyTheRowsOfTheAppsItTouches) {
    struct Case {
        const char* what;
        std::vector<std::string> start;
        std::function<void(Listed&)> change;
        std::vector<std::string> signals;
        std::vector<std::string> rows;
    };
    auto edit = [](std::function<void(ScrollSettings&)> change) {
        return [change](Listed& l) { l.model.edit(change); };
    };
    const Case cases[] = {
        {"one removed", {"a", "b", "c"}, [](Listed& l) { l.model.remove("b"); },
         {"-1..1", "changed"}, {"a", "c"}},
        {"two apart removed", {"a", "b", "c", "d"},
         edit([](ScrollSettings& s) { s.allowedApps = {"a", "c"}; }),
         {"-3..3", "-1..1", "changed"}, {"a", "c"}},
        {"a run removed", {"a", "b", "c", "d"},
         edit([](ScrollSettings& s) { s.allowedApps = {"a", "d"}; }),
         {"-1..2", "changed"}, {"a", "d"}},
        {"all removed", {"a", "b"}, edit([](ScrollSettings& s) { s.allowedApps.clear(); }),
         {"-0..1"}, {}},
        {"two apart added", {"a", "c"},
         [](Listed& l) {
             l.know("b", "B");
             l.know("d", "D");
             l.model.edit([](ScrollSettings& s) { s.allowedApps.insert({"b", "d"}); });
         },
         {"+1..1", "+3..3", "changed"}, {"a", "b", "c", "d"}},
        {"a run added in front", {"c"},
         [](Listed& l) {
             l.know("a", "A");
             l.know("b", "B");
             l.model.edit([](ScrollSettings& s) { s.allowedApps.insert({"a", "b"}); });
         },
         {"+0..1", "changed"}, {"a", "b", "c"}},
        {"the first added", {}, [](Listed& l) {
             l.know("a", "A");
             l.model.edit([](ScrollSettings& s) { s.allowedApps.insert("a"); });
         },
         {"+0..0", "changed"}, {"a"}},
        {"renamed to the end", {"a", "b", "c"},
         [](Listed& l) {
             l.know("a", "Zed");
             l.model.setSettings(l.model.settings());
         },
         {"-0..0", "+2..2", "changed"}, {"b", "c", "a"}},
        {"a switch", {"a", "b"}, [](Listed& l) { l.model.isOn("a").set(false); },
         {"changed"}, {"a", "b"}},
    };
    for (const Case& c : cases) {
        Listed l(c.start);
        c.change(l);
        l.list.refresh();
        EXPECT_EQ(l.signals, c.signals) << c.what;
        EXPECT_EQ(l.rows(), c.rows) << c.what;
    }
}

TEST(AppList, rowsThatChangePlacesWithoutARenameResetTheList) {
    // Equal names keep the order of the listing: allowed apps first, then the excluded ones.
    Listed l({"org.b"}, {{"org.b", "Same"}});
    l.know("org.a", "Same");
    l.model.edit([](ScrollSettings& s) { s.excludedApps.insert("org.a"); });
    l.list.refresh();
    ASSERT_EQ(l.rows(), (std::vector<std::string>{"org.b", "org.a"}));
    l.signals.clear();
    l.model.isOn("org.a").set(true);
    l.list.refresh();
    EXPECT_EQ(l.signals, (std::vector<std::string>{"reset"}));
    EXPECT_EQ(l.rows(), (std::vector<std::string>{"org.a", "org.b"}));
}

TEST(AppList, rowsShowNameSwitchAndCaptionAndTheSwitchEdits) {
    const std::string odd = "<img src=\"x.png\">&";
    Listed l({"org.on", odd}, {{"org.on", "On"}, {odd, "<b>Odd</b> & co"}});
    l.know("org.off", "Off");
    l.model.edit([](ScrollSettings& s) {
        s.excludedApps.insert("org.off");
        s.setOwn(ScrollSettings::AppSetting::speed, "org.on", [](ScrollSettings& own) {
            own.speed = 2;
        });
    });
    l.list.refresh();
    ASSERT_EQ(l.rows(), (std::vector<std::string>{odd, "org.off", "org.on"}));
    struct Row {
        QString name;
        Qt::CheckState check;
        QString caption;
    };
    const Row expected[] = {
        {"<b>Odd</b> & co", Qt::Checked, ""},
        {"Off", Qt::Unchecked, "Keeps the SpaceMouse"},
        {"On", Qt::Checked, "Own settings"},
    };
    for (int row = 0; row < 3; ++row) {
        const QModelIndex index = l.list.index(row);
        EXPECT_EQ(index.data().toString(), expected[row].name);
        EXPECT_EQ(index.data(Qt::CheckStateRole).value<Qt::CheckState>(), expected[row].check);
        EXPECT_EQ(index.data(AppList::CaptionRole).toString(), expected[row].caption);
        EXPECT_TRUE(l.list.flags(index) & Qt::ItemIsUserCheckable);
    }
    // A tooltip takes markup as markup: the id's shows the id as it is.
    QTextDocument tip;
    tip.setHtml(l.list.index(0).data(Qt::ToolTipRole).toString());
    EXPECT_EQ(tip.toPlainText().toStdString(), odd);

    int changes = 0;
    l.model.onChange = [&](const ScrollSettings&) { ++changes; };
    EXPECT_TRUE(l.list.setData(l.list.index(1), Qt::Checked, Qt::CheckStateRole));
    EXPECT_FALSE(l.list.setData(l.list.index(1), "x", Qt::DisplayRole));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(l.model.settings().deviceChoice("org.off"), scroll::DevicePolicy::AppChoice::on);
    EXPECT_EQ(l.list.rowOf("org.on"), 2);
    EXPECT_EQ(l.list.rowOf("org.none"), -1);
}

} // namespace
} // namespace vantor
