// The real window driven like a user over the scripted model: the theme's contrast, mouse
// clicks on every kind of control, a keyboard-only walk, what a screen reader is told, and the
// layout at the minimum size with doubled text.
#include <QAccessible>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

#include "scripted_app.h"
#include "support/await.h"
#include "ui/home_view_model.h"

namespace orlune {
namespace {

using test::findObject;

void settle(int rounds = 6) {
    for (int i = 0; i < rounds; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(5);
    }
}

bool eventually(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(3000);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        settle(1);
    }
    return true;
}

// ---- Contrast -----------------------------------------------------------------------------

double luminance(const QColor& color) {
    const auto channel = [](double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double x = luminance(a), y = luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

// `top` drawn over the opaque `bottom`.
QColor over(const QColor& top, const QColor& bottom) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

TEST(ThemeContrast, EveryTextAndControlColourReadsOnItsSurfacesInBothThemes) {
    QQmlEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/"));
    QObject* theme = test::theme(engine);
    ASSERT_NE(theme, nullptr);

    // The surfaces the views draw on; a translucent one is composed over the one it lies on.
    const QStringList opaque = {"background", "sidebar", "card", "hover", "field"};
    struct Surface {
        QString name, over;
    };
    const std::vector<Surface> tinted = {
        {"accentSoft", "card"}, {"accentSoft", "sidebar"}, {"warningSoft", "background"}};
    // Foreground, the surfaces it is set on ("*" every surface), and the ratio it needs: 4.5
    // for text, 3 for large text, symbols and the marks that make a control (outlines, knobs).
    struct Pair {
        const char* foreground;
        QStringList surfaces;
        double ratio;
    };
    const std::vector<Pair> pairs = {
        {"text", {"*"}, 4.5},
        {"secondaryText", {"*"}, 4.5},
        {"accentText", {"accent", "accentPressed"}, 4.5},
        {"accent", {"background", "card", "accentSoft/card"}, 4.5},  // links, badges, selected rows
        {"accent", {"sidebar", "accentSoft/sidebar"}, 3.0},          // the selected page's symbol
        {"green", {"background", "card"}, 4.5},
        {"orange", {"background", "card", "warningSoft/background"}, 4.5},
        {"yellow", {"card"}, 4.5},
        {"star", {"card", "accentSoft/card", "hover"}, 3.0},
        {"controlBorder", {"card", "field", "background", "hover"}, 3.0},
        {"focusRing", {"background", "sidebar", "card", "field", "accentSoft/card", "accentSoft/sidebar"}, 3.0},
    };

    for (const bool dark : {false, true}) {
        theme->setProperty("dark", dark);
        const auto colour = [&](const QString& name) { return theme->property(name.toLatin1()).value<QColor>(); };
        QMap<QString, QColor> surfaces;
        for (const QString& name : opaque) surfaces[name] = colour(name);
        surfaces["accent"] = colour("accent");
        surfaces["accentPressed"] = colour("accentPressed");
        for (const Surface& s : tinted) surfaces[s.name + '/' + s.over] = over(colour(s.name), colour(s.over));
        for (const Pair& pair : pairs) {
            QStringList names = pair.surfaces;
            if (names == QStringList{"*"}) {
                names = opaque;
                for (const Surface& s : tinted) names << s.name + '/' + s.over;
            }
            for (const QString& surface : names) {
                ASSERT_TRUE(surfaces.contains(surface)) << surface.toStdString();
                const double ratio = contrast(colour(pair.foreground), surfaces[surface]);
                EXPECT_GE(ratio, pair.ratio) << (dark ? "dark: " : "light: ") << pair.foreground << " on "
                                             << surface.toStdString() << " is " << ratio << ":1";
            }
        }
    }
}

// ---- The window ---------------------------------------------------------------------------

class WindowTest : public ::testing::Test {
protected:
    void open() {
        app.open();
        ASSERT_TRUE(app.windows->loaded());
        window = app.windows->mainWindow();
        window->resize(1120, 780);
        settle();
    }
    QQuickItem* item(const QString& name, QObject* under = nullptr) {
        QObject* root = under ? under : window->contentItem();
        return qobject_cast<QQuickItem*>(findObject(root, [&](QObject* o) {
            auto* candidate = qobject_cast<QQuickItem*>(o);
            return o->objectName() == name && candidate && candidate->isVisible();
        }));
    }
    // Every visible item under `root` that matches.
    static QList<QQuickItem*> items(QQuickItem* root, const std::function<bool(QQuickItem*)>& match) {
        QList<QQuickItem*> found;
        if (!root || !root->isVisible()) return found;
        if (match(root)) found << root;
        for (QQuickItem* child : root->childItems()) found << items(child, match);
        return found;
    }
    void click(QQuickItem* target, QQuickWindow* in = nullptr, QPointF at = {-1, -1}) {
        ASSERT_NE(target, nullptr);
        if (at.x() < 0) at = QPointF(target->width() / 2, target->height() / 2);
        QTest::mouseClick(in ? in : window, Qt::LeftButton, {}, target->mapToScene(at).toPoint());
        settle();
    }
    void key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(window, Qt::Key(key), modifiers);
        settle();
    }
    void loadCatalog() {
        test::await(app.model().refreshCatalog());
        settle();
    }
    void page(const char* title) {
        app.shell->setPage(QString::fromUtf8(title));
        settle(10);  // the page's fade-in
    }
    static QString name(QQuickItem* item) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(item);
        return face ? face->text(QAccessible::Name) : QString();
    }

    test::ScriptedApp app;
    QQuickWindow* window = nullptr;
};

QString entryOf(QQuickItem* row) {
    return row->parentItem()->property("entry").toMap().value("id").toString();
}

TEST_F(WindowTest, ClicksReachTheModelThroughEveryKindOfControl) {
    open();
    loadCatalog();

    // No selection: the main button is off and says why in words, not in a hover-only tooltip.
    QQuickItem* main = item("mainButton");
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(main->isEnabled());
    click(main);
    EXPECT_FALSE(app.model().connectionState().isConnected());
    ASSERT_NE(item("mainButtonReason"), nullptr);
    EXPECT_EQ(item("mainButtonReason")->property("text").toString(), "Select a server first");

    // The country menu chooses a country; the main button connects and then disconnects.
    click(item("countryPicker"));
    QQuickItem* korea = nullptr;
    ASSERT_TRUE(eventually([&] {
        korea = qobject_cast<QQuickItem*>(findObject(window->contentItem(), [](QObject* o) {
            return o->inherits("QQuickMenuItem") && o->property("text").toString().contains("Korea");
        }));
        return korea && korea->isVisible() && korea->height() > 0;
    }));
    click(korea);
    EXPECT_EQ(app.model().selectedCountryCode().value_or(""), "KR");
    ASSERT_TRUE(main->isEnabled());
    click(main);
    ASSERT_TRUE(eventually([&] { return app.model().connectionState().isConnected(); }));
    EXPECT_EQ(app.fixture.tunnel->connectedIDs.back(), app.catalog().relays[2].id);
    // Connected, the picker is off and its reason takes the caption's place.
    EXPECT_EQ(item("pickerCaption")->property("text").toString(), "Disconnect to choose another country");
    click(main);
    ASSERT_TRUE(eventually([&] { return !app.model().connectionState().isConnected(); }));

    // Servers: a header collapses its country, a row selects, the star saves, sort and search.
    page("Servers");
    auto* list = item("serverList");
    ASSERT_NE(list, nullptr);
    const int rows = list->property("count").toInt();
    click(item("countryHeader", list));
    EXPECT_LT(list->property("count").toInt(), rows);
    click(item("countryHeader", list));
    EXPECT_EQ(list->property("count").toInt(), rows);
    // Not the best relay, so that a selection and a quick connect differ.
    const QString id = app.catalog().relays[3].id;
    const auto relayRows =
        items(list, [&](QQuickItem* i) { return i->objectName() == "relayRow" && entryOf(i) == id; });
    ASSERT_EQ(relayRows.size(), 1);
    QQuickItem* row = relayRows[0];
    click(row, nullptr, {40, row->height() / 2});
    ASSERT_TRUE(app.model().selected());
    EXPECT_EQ(app.model().selected()->id, id);
    click(item("star", row->parentItem()));
    EXPECT_TRUE(app.model().favorites().contains(id));
    click(item("star", row->parentItem()));
    EXPECT_FALSE(app.model().favorites().contains(id));

    click(item("sort"));
    QQuickItem* fastest = nullptr;
    ASSERT_TRUE(eventually([&] {
        fastest = qobject_cast<QQuickItem*>(findObject(window->contentItem(), [](QObject* o) {
            return o->inherits("QQuickItemDelegate") && o->property("index").toInt() == 2;
        }));
        return fastest && fastest->isVisible() && fastest->height() > 0;
    }));
    click(fastest);
    QObject* servers =
        findObject(window->contentItem(), [](QObject* o) { return o->objectName() == "serversViewModel"; });
    ASSERT_NE(servers, nullptr);
    EXPECT_EQ(servers->property("sortIndex").toInt(), 2);

    click(item("serverSearch"));
    for (const char letter : std::string("seoul")) QTest::keyClick(window, letter);
    settle();
    EXPECT_EQ(app.model().serverSearch(), "seoul");
    EXPECT_EQ(list->property("count").toInt(), 2);  // Korea's header and its one match
    key(Qt::Key_Escape);
    EXPECT_EQ(app.model().serverSearch(), "");

    // The tray window: its actions per state.
    app.windows->showMenuWindow();
    QQuickWindow* menu = app.windows->menuWindow();
    settle();
    const auto action = [&](const char* name) {
        return qobject_cast<QQuickItem*>(
            findObject(menu->contentItem(), [&](QObject* o) { return o->objectName() == QLatin1String(name); }));
    };
    EXPECT_FALSE(action("menuDisconnect")->isVisible());
    ASSERT_TRUE(action("menuConnect")->isEnabled());
    click(action("menuConnect"), menu);
    ASSERT_TRUE(eventually([&] { return app.model().connectionState().isConnected(); }));
    EXPECT_EQ(app.fixture.tunnel->connectedIDs.back(), id);
    EXPECT_FALSE(action("menuConnect")->isVisible());
    click(action("menuDisconnect"), menu);
    ASSERT_TRUE(eventually([&] { return !app.model().connectionState().isConnected(); }));
    const int fetches = app.catalog().fetches;
    click(action("menuRefresh"), menu);
    EXPECT_TRUE(eventually([&] { return app.catalog().fetches == fetches + 1; }));
    click(action("menuQuickConnect"), menu);
    ASSERT_TRUE(eventually([&] { return app.model().connectionState().isConnected(); }));
    click(action("menuDisconnect"), menu);
    ASSERT_TRUE(eventually([&] { return !app.model().connectionState().isConnected(); }));
    window->close();
    settle();
    click(action("menuOpen"), menu);
    EXPECT_TRUE(window->isVisible());
    QSignalSpy quit(app.shell.get(), &ui::Shell::quitRequested);
    click(action("menuQuit"), menu);
    EXPECT_EQ(quit.count(), 1);
}

// The focus rings shown under `item`.
QList<QQuickItem*> focusRings(QQuickItem* item) {
    QList<QQuickItem*> rings;
    if (!item || !item->isVisible()) return rings;
    if (item->objectName() == QLatin1String("focusRing")) rings << item;
    for (QQuickItem* child : item->childItems()) rings << focusRings(child);
    return rings;
}

// The item with the keyboard focus shows it: its own focus ring (the list's on its current
// row), or a field's focus outline.
bool showsFocus(QQuickItem* focused) {
    if (focused->inherits("QQuickTextField")) return true;
    if (focused->inherits("QQuickListView"))
        return !focusRings(focused->property("currentItem").value<QQuickItem*>()).isEmpty();
    if (focused->inherits("QQuickSwitch"))
        return !focusRings(focused->property("indicator").value<QQuickItem*>()).isEmpty();
    return !focusRings(focused).isEmpty();
}

// The list whose current row holds the focus stands for it (a list view hands its focus on to
// the current row).
QQuickItem* focusOwner(QQuickItem* focused) {
    for (QQuickItem* at = focused; at; at = at->parentItem()) {
        if (at->inherits("QQuickListView")) return at;
    }
    return focused;
}

// The nearest scrolling view around `item`, if any.
QQuickItem* flickableAround(QQuickItem* item) {
    for (QQuickItem* at = item->parentItem(); at; at = at->parentItem()) {
        if (at->inherits("QQuickFlickable")) return at;
    }
    return nullptr;
}

TEST_F(WindowTest, TheKeyboardAloneReachesEveryControlInOrderWithVisibleFocus) {
    open();
    loadCatalog();
    app.model().selectCountry("JP");
    settle();
    window->resize(940, 660);
    settle();

    // Ctrl+1…7 open the pages; on each, Tab visits its controls top to bottom, each in sight
    // and marked, and comes back round.
    const std::map<int, QStringList> expected = {{0, {"mainButton", "countryPicker"}},
                                                 {1, {"serverSearch", "countrySearch", "sort", "serverList"}},
                                                 {4, {"switch", "refreshInterval", "appearance"}}};
    for (int index = 0; index < 7; ++index) {
        key(Qt::Key_1 + index, Qt::ControlModifier);
        const QString title = app.shell->pages()[index].toMap().value("title").toString();
        ASSERT_EQ(app.shell->page(), title);
        QQuickItem* pageRoot = item("detail");
        ASSERT_NE(pageRoot, nullptr);
        QSet<QString> reached;
        QList<QQuickItem*> visited;
        qreal lastY = -1;
        for (int step = 0; step < 80; ++step) {
            key(Qt::Key_Tab);
            ASSERT_NE(window->activeFocusItem(), nullptr) << title.toStdString();
            QQuickItem* focused = focusOwner(window->activeFocusItem());
            if (visited.contains(focused)) break;
            visited << focused;
            reached << focused->objectName();
            const std::string where = title.toStdString() + ": " + focused->metaObject()->className() + " '" +
                                      name(focused).toStdString() + "'";
            EXPECT_TRUE(showsFocus(focused)) << where;
            const QRectF box = focused->mapRectToScene(QRectF(0, 0, focused->width(), focused->height()));
            EXPECT_TRUE(QRectF(0, 0, window->width(), window->height()).contains(box)) << where;
            if (QQuickItem* view = flickableAround(focused)) {
                const QRectF port = view->mapRectToScene(QRectF(0, 0, view->width(), view->height()));
                EXPECT_TRUE(port.adjusted(-1, -1, 1, 1).contains(box)) << where << " is scrolled out of sight";
            }
            // Within the page, top to bottom (controls side by side share a line).
            if (pageRoot->isAncestorOf(focused)) {
                const QPointF top = focused->mapToItem(
                    flickableAround(focused) ? flickableAround(focused)->property("contentItem").value<QQuickItem*>()
                                             : pageRoot,
                    QPointF(0, 0));
                EXPECT_GE(top.y(), lastY - 40) << where << " comes out of order";
                lastY = std::max(lastY, top.y());
            }
        }
        EXPECT_GE(visited.size(), 8) << title.toStdString();  // the seven pages and more
        if (expected.count(index)) {
            for (const QString& wanted : expected.at(index)) {
                EXPECT_TRUE(reached.contains(wanted)) << title.toStdString() << ": " << wanted.toStdString();
            }
        }
    }

    // In the list, the arrows move the cursor, Right reaches the star, Space acts.
    key(Qt::Key_2, Qt::ControlModifier);
    auto* list = item("serverList");
    list->forceActiveFocus(Qt::TabFocusReason);
    key(Qt::Key_Down);  // from the first country's header to its first relay
    const QString id = list->property("current").toMap().value("id").toString();
    ASSERT_FALSE(id.isEmpty());
    key(Qt::Key_Space);
    EXPECT_EQ(app.model().selected()->id, id);
    key(Qt::Key_Right);
    key(Qt::Key_Space);
    EXPECT_TRUE(app.model().favorites().contains(id));
    key(Qt::Key_Up);
    key(Qt::Key_Return);  // collapses the country; the cursor stays on its header
    EXPECT_EQ(list->property("current").toMap().value("kind").toString(), "header");
    for (int i = 0; i < 12; ++i) key(Qt::Key_Down);  // the view follows the cursor
    auto* current = list->property("currentItem").value<QQuickItem*>();
    const QRectF port = list->mapRectToScene(QRectF(0, 0, list->width(), list->height()));
    EXPECT_TRUE(port.adjusted(-1, -1, 1, 1)
                    .contains(current->mapRectToScene(QRectF(0, 0, current->width(), current->height()))));

    // Ctrl+F finds; Ctrl+R refreshes.
    key(Qt::Key_1, Qt::ControlModifier);
    key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(app.shell->page(), "Servers");
    EXPECT_EQ(window->activeFocusItem()->objectName(), "serverSearch");
    const int fetches = app.catalog().fetches;
    key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(eventually([&] { return app.catalog().fetches == fetches + 1; }));

    // A stepper at its limit hands the focus to its other button instead of dropping it.
    key(Qt::Key_5, Qt::ControlModifier);
    auto* stepper = item("stepper-minimumSpeedMbps");
    ASSERT_NE(stepper, nullptr);
    QList<QQuickItem*> buttons = items(stepper, [](QQuickItem* i) { return i->inherits("QQuickButton"); });
    ASSERT_EQ(buttons.size(), 2);
    QQuickItem* stepping = buttons[0]->isEnabled() ? buttons[0] : buttons[1];
    QQuickItem* partner = stepping == buttons[0] ? buttons[1] : buttons[0];
    stepping->forceActiveFocus(Qt::TabFocusReason);
    for (int i = 0; i < 100 && stepping->isEnabled(); ++i) key(Qt::Key_Space);
    EXPECT_FALSE(stepping->isEnabled());
    EXPECT_TRUE(partner->hasActiveFocus());

    // Ctrl+W closes the window.
    key(Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WindowTest, EveryFocusableItemHasARoleAndANameAndTheSelectedPageIsExposed) {
    QAccessible::setActive(true);
    open();
    loadCatalog();
    app.model().selectCountry("JP");
    test::await(app.model().connectSelected());
    for (const char* title : {"Home", "Servers", "Favorites", "Statistics", "Settings", "Help & Support", "About"}) {
        page(title);
        const auto focusable = items(window->contentItem(), [](QQuickItem* i) {
            return i->activeFocusOnTab() && i->isEnabled() && i->width() > 0;
        });
        EXPECT_GE(focusable.size(), 8) << title;  // the sidebar's and the page's
        for (QQuickItem* control : focusable) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control);
            const std::string where = std::string(title) + ": " + control->metaObject()->className();
            ASSERT_NE(face, nullptr) << where;
            EXPECT_NE(face->role(), QAccessible::NoRole) << where;
            EXPECT_NE(face->role(), QAccessible::Client) << where;
            EXPECT_FALSE(face->text(QAccessible::Name).trimmed().isEmpty()) << where;
        }
        // The sidebar says which page is shown, and only that one.
        for (int index = 0; index < 7; ++index) {
            const QString pageTitle = app.shell->pages()[index].toMap().value("title").toString();
            QQuickItem* button = item("page-" + pageTitle);
            ASSERT_NE(button, nullptr);
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(button);
            EXPECT_EQ(face->role(), QAccessible::PageTab) << pageTitle.toStdString();
            EXPECT_EQ(bool(face->state().selected), pageTitle == QLatin1String(title)) << pageTitle.toStdString();
        }
    }

    // In the list the star is the row's neighbour, not a button inside a button.
    page("Servers");
    QQuickItem* star = item("star");
    ASSERT_NE(star, nullptr);
    for (QQuickItem* at = star->parentItem(); at; at = at->parentItem())
        EXPECT_FALSE(at->inherits("QQuickAbstractButton"));
    // A row is a list item to a reader, its selection included, also after accessibility started.
    QAccessibleInterface* row = QAccessible::queryAccessibleInterface(star->parentItem());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->role(), QAccessible::ListItem);
    EXPECT_FALSE(row->text(QAccessible::Name).isEmpty());

    // Home's rows stay the same items while the duration ticks, so a reader keeps its place.
    page("Home");
    QQuickItem* first = item("detailRow");
    ASSERT_NE(first, nullptr);
    app.fixture.clock->current = app.fixture.clock->current.addSecs(5);
    auto* home = qobject_cast<ui::HomeViewModel*>(
        findObject(window->contentItem(), [](QObject* o) { return qobject_cast<ui::HomeViewModel*>(o) != nullptr; }));
    ASSERT_NE(home, nullptr);
    home->tick();
    settle();
    EXPECT_EQ(item("detailRow"), first);
    QAccessible::setActive(false);
}

// Everything laid out where it fits: inside the window across, inside its card, and no text
// overflowing its box (eliding is allowed; cutting is not).
void checkLayout(QQuickWindow* window, const std::string& state) {
    const auto isCard = [](QQuickItem* item) {
        for (const QMetaObject* type = item->metaObject(); type; type = type->superClass()) {
            if (QByteArray(type->className()).startsWith("Card_QMLTYPE")) return true;
        }
        return false;
    };
    const auto cards = [&] {
        QList<QQuickItem*> found;
        std::function<void(QQuickItem*)> walk = [&](QQuickItem* at) {
            if (!at->isVisible()) return;
            if (isCard(at)) found << at;
            for (QQuickItem* child : at->childItems()) walk(child);
        };
        walk(window->contentItem());
        return found;
    }();
    std::function<void(QQuickItem*, QQuickItem*)> walk = [&](QQuickItem* at, QQuickItem* card) {
        if (!at->isVisible() || at->opacity() == 0) return;
        if (cards.contains(at)) card = at;
        if (at->width() > 0 && at->height() > 0 && at->inherits("QQuickText")) {
            const QRectF box = at->mapRectToScene(QRectF(0, 0, at->width(), at->height()));
            const std::string what = state + ": '" + at->property("text").toString().left(40).toStdString() + "'";
            EXPECT_GE(box.left(), -1) << what;
            EXPECT_LE(box.right(), window->width() + 1) << what;
            if (card) {
                const QRectF frame = card->mapRectToScene(QRectF(0, 0, card->width(), card->height()));
                EXPECT_TRUE(frame.adjusted(-1, -1, 1, 1).contains(box)) << what << " leaves its card";
            }
            const bool fits = at->property("elide").toInt() != 0 || at->property("wrapMode").toInt() != 0 ||
                              at->property("contentWidth").toReal() <= at->width() + 1;
            EXPECT_TRUE(fits) << what << " overflows: " << at->property("contentWidth").toReal() << " > "
                              << at->width();
        }
        // Texts side by side or one under the other never run into each other.
        QList<QRectF> texts;
        for (QQuickItem* child : at->childItems()) {
            if (!child->isVisible() || !child->inherits("QQuickText") || child->height() <= 0) continue;
            const QRectF box =
                child->mapRectToScene(QRectF(0, 0, child->width(), child->height())).adjusted(1, 1, -1, -1);
            for (const QRectF& other : texts) {
                EXPECT_FALSE(box.intersects(other))
                    << state << ": '" << child->property("text").toString().left(40).toStdString()
                    << "' runs into a neighbouring text";
            }
            texts << box;
        }
        for (QQuickItem* child : at->childItems()) walk(child, card);
    };
    walk(window->contentItem(), nullptr);
}

TEST_F(WindowTest, EveryPageFitsTheMinimumSizeWithNormalAndDoubledText) {
    open();
    loadCatalog();
    app.model().selectCountry("KR");
    app.model().toggleFavorite(app.catalog().relays[0]);
    QObject* theme = test::theme(app.windows->engine());
    ASSERT_NE(theme, nullptr);
    window->resize(940, 660);
    for (const double scale : {1.0, 2.0}) {
        theme->setProperty("textScale", scale);
        for (const char* appearance : {"Light", "Dark"}) {
            app.fixture.preferences().setValue("appearance", appearance);
            for (const char* title :
                 {"Home", "Servers", "Favorites", "Statistics", "Settings", "Help & Support", "About"}) {
                page(title);
                const std::string state =
                    std::string(title) + " at " + std::to_string(int(scale)) + "x text, " + appearance;
                checkLayout(window, state);
                // A relay's figures are never cut: where its columns would cut them, they wrap.
                const auto rows =
                    items(window->contentItem(), [](QQuickItem* i) { return i->objectName() == "relayRow"; });
                for (QQuickItem* row : rows) {
                    for (QQuickItem* text :
                         items(row, [](QQuickItem* i) { return i->inherits("QQuickText") && i->isVisible(); })) {
                        EXPECT_FALSE(text->property("truncated").toBool())
                            << state << ": '" << text->property("text").toString().toStdString() << "' is cut";
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace orlune
