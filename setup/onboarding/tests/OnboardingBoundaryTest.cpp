// What a page in the setup window can reach: a hostile page placed where the guide is loaded from
// tries to read files beside the guide's folder, to load frames and windows, to have the view
// load another page, and to talk to the program from another address; the guide itself is
// refreshed while a setup run works. Each attempt is watched from the page and the window.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include "platform/Bundle.h"
#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "setup/onboarding/tests/OnboardingTestSupport.h"

namespace tolvani {
namespace {

using State = InputSourceRegistration::State;
using testing::settle;
using testing::settleUntil;

const InputSourceSnapshot kNotRegistered{State::notRegistered, false};
const InputSourceSnapshot kSelected{State::enabled, true};

// How long a refused attempt is given to show that it got through after all.
constexpr int kLeakWait = 3000;

// Speaks the guide's protocol, so the program takes it for the guide; everything it manages to
// run or read is recorded in `ran` and `read`, everything refused in `failed`.
constexpr char kHostilePage[] = R"html(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>hostile</title></head><body>
<button id="open" onclick="window.popup = window.open('elsewhere.html')">open</button>
<a id="blank" href="elsewhere.html" target="_blank">new window</a>
<iframe name="named" id="named"></iframe>
<a id="framed" href="elsewhere.html" target="named">into the frame</a>
<script>
window.ran = [];
window.read = [];
window.failed = [];
window.pending = 0;
window.sameDocument = true;
let session = null;
let post = null;
window.setup = { render(snapshot) { session = snapshot.session; } };
window.hasSession = () => session !== null;
window.send = (action, text) =>
  post(JSON.stringify({ action: action, session: session, text: text }));
window.loadScript = (src) => {
  ++window.pending;
  const script = document.createElement('script');
  script.src = src;
  script.onload = () => --window.pending;
  script.onerror = () => { window.failed.push(src); --window.pending; };
  document.body.appendChild(script);
};
window.readFile = (src) => {
  ++window.pending;
  const request = new XMLHttpRequest();
  request.open('GET', src);
  request.onload = () => { window.read.push(request.responseText); --window.pending; };
  request.onerror = () => { window.failed.push(src); --window.pending; };
  request.send();
};
new QWebChannel(qt.webChannelTransport, (channel) => {
  post = (text) => channel.objects.setup.postMessage(text);
  post(JSON.stringify({ action: 'ready' }));
});
</script></body></html>)html";

// A page of the guide's own folder, which the page may read but never show: it reports where it
// came up.
constexpr char kElsewherePage[] = R"html(<!DOCTYPE html>
<html><body>elsewhere<script>
window.elsewhere = true;
try { (window.opener || window.parent).ran.push(window.opener ? 'window' : 'frame'); } catch (e) {}
</script></body></html>)html";

class OnboardingBoundaryTest : public testing::ControllerTest {
 protected:
  void SetUp() override {
    // A copy of the built guide, with a sibling folder whose name starts with the guide's.
    const QString guide = platform::bundle::resourcePath(QStringLiteral("Setup"));
    ASSERT_TRUE(QFileInfo(guide + "/index.html").isFile()) << guide;
    ASSERT_TRUE(resources_.isValid());
    root_ = resources_.path();
    QDirIterator files(guide, QDir::Files);
    while (files.hasNext()) {
      const QString file = files.next();
      write("Setup/" + QFileInfo(file).fileName(), readAll(file));
    }
    write("Setup/own.js", "window.ran.push('own.js');");
    write("Setup/notes.txt", "notes of the guide");
    write("Setup/elsewhere.html", kElsewherePage);
    write("outside.js", "window.ran.push('outside.js');");
    write("secret.txt", "secret beside the guide");
    write("Setup-evil/evil.js", "window.ran.push('Setup-evil/evil.js');");
    write("Setup-evil/secret.txt", "secret of the sibling");
    platform::bundle::testSetResourcesDir(root_);
    makeController();
  }

  static QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  void write(const QString& relative, const QByteArray& data) {
    const QString path = root_ + "/" + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path;
    file.write(data);
  }
  QString fileUrl(const QString& relative) const {
    return QUrl::fromLocalFile(root_ + "/" + relative).toString();
  }

  bool openAndWaitReady() {
    controller_->loadGuide();
    controller_->window()->show();
    return settleUntil([&] { return controller_->pageReady(); });
  }
  // The hostile page in the guide's place, up and holding its session.
  bool openHostile() {
    write("Setup/index.html", kHostilePage);
    return openAndWaitReady() && settleUntil([&] { return js("hasSession()").toBool(); });
  }

  QVariant js(const QString& script) {
    std::optional<QVariant> result;
    controller_->webView()->page()->runJavaScript(script, QWebEngineScript::MainWorld,
                                                  [&](const QVariant& v) { result = v; });
    settleUntil([&] { return result.has_value(); }, 10000);
    return result.value_or(QVariant());
  }
  QString jsText(const QString& script) { return js(script).toString(); }
  QString ran() { return jsText("window.ran.join(' ')"); }
  // Waits for the page's loads and reads to end, each loaded or refused.
  bool settled() {
    return settleUntil([&] { return jsText("String(window.pending)") == "0"; }, 10000);
  }
  // A real click at the centre of the page's element.
  void click(const QString& id, Qt::MouseButton button = Qt::LeftButton) {
    const QStringList box =
        jsText(QStringLiteral("(() => { const r = document.getElementById('%1')"
                              ".getBoundingClientRect(); return [r.left + r.width / 2, "
                              "r.top + r.height / 2].map(Math.round).join(' '); })()")
                   .arg(id))
            .split(' ');
    ASSERT_EQ(box.size(), 2) << id;
    QWidget* input = controller_->webView()->focusProxy();
    ASSERT_NE(input, nullptr);
    QTest::mouseClick(input, button, Qt::NoModifier, QPoint(box[0].toInt(), box[1].toInt()));
  }
  QString rows() {
    return jsText(
        "['add', 'show', 'select'].map(s => s + '=' + "
        "document.querySelector('.row[data-step=\"' + s + '\"]').dataset.state).join(' ')");
  }
  bool waitRows(const QString& expected) {
    return settleUntil([&] { return rows() == expected; }, 10000);
  }
  QString state() const { return controller_->describe(); }

  QTemporaryDir resources_;
  QString root_;
};

TEST_F(OnboardingBoundaryTest, ThePageReadsOnlyTheFilesOfTheGuidesFolder) {
  ASSERT_TRUE(openHostile());
  // The folder's own files load; beside it, in a folder whose name starts like the guide's, and
  // by absolute address, nothing does.
  js(QStringLiteral("loadScript('own.js'); loadScript('../outside.js'); "
                    "loadScript('../Setup-evil/evil.js'); loadScript('%1'); "
                    "readFile('notes.txt'); readFile('../secret.txt'); "
                    "readFile('../Setup-evil/secret.txt'); readFile('%2');")
         .arg(fileUrl("outside.js"), fileUrl("Setup-evil/secret.txt")));
  ASSERT_TRUE(settled());
  EXPECT_EQ(ran(), QStringLiteral("own.js"));
  EXPECT_EQ(jsText("window.read.join('|')"), QStringLiteral("notes of the guide"));
  EXPECT_EQ(jsText("window.failed.sort().join(' ')"),
            QStringList({"../Setup-evil/evil.js", "../Setup-evil/secret.txt", "../outside.js",
                         "../secret.txt", fileUrl("Setup-evil/secret.txt"), fileUrl("outside.js")})
                .join(' '));
}

TEST_F(OnboardingBoundaryTest, FramesInThePageLoadNothing) {
  ASSERT_TRUE(openHostile());
  // A frame with an address of the guide's folder, a frame sent there by a script, and a link
  // clicked into a named frame.
  js("const made = document.createElement('iframe'); made.id = 'made'; made.src = "
     "'elsewhere.html'; document.body.appendChild(made);"
     "const sent = document.createElement('iframe'); sent.id = 'sent'; "
     "document.body.appendChild(sent); sent.contentWindow.location.href = 'elsewhere.html';");
  click("framed");
  settleUntil([&] { return !ran().isEmpty(); }, kLeakWait);
  EXPECT_EQ(ran(), QString());
  EXPECT_EQ(jsText("[...document.querySelectorAll('iframe')].map(f => f.id + '=' + "
                   "f.contentWindow.location.href).join(' ')"),
            QStringLiteral("named=about:blank made=about:blank sent=about:blank"));
  EXPECT_EQ(controller_->webView()->url().toLocalFile(), root_ + "/Setup/index.html");
}

TEST_F(OnboardingBoundaryTest, ThePageOpensNoWindow) {
  ASSERT_TRUE(openHostile());
  const QWidgetList before = QApplication::topLevelWidgets();
  // With a click, so the web engine's popup blocker lets them through to the program: a script's
  // window.open, a link to a new window, and a middle click on it.
  click("open");
  click("blank");
  click("blank", Qt::MiddleButton);
  settleUntil([&] { return !ran().isEmpty(); }, kLeakWait);
  EXPECT_EQ(ran(), QString());
  EXPECT_EQ(jsText("String(!window.popup || window.popup.closed)"), QStringLiteral("true"));
  EXPECT_EQ(QApplication::topLevelWidgets(), before);
  EXPECT_EQ(controller_->webView()->url().toLocalFile(), root_ + "/Setup/index.html");
}

TEST_F(OnboardingBoundaryTest, TheViewShowsOnlyTheGuideWhateverItIsAskedToLoad) {
  ASSERT_TRUE(openHostile());
  const QUrl guide = controller_->webView()->url();
  QWebEngineView* view = controller_->webView();
  const auto stillTheGuide = [&] {
    settleUntil(
        [&] { return view->url() != guide || jsText("String(window.sameDocument)") != "true"; },
        kLeakWait);
    return view->url() == guide &&
           jsText("String(window.sameDocument) + ' ' + String(window.elsewhere)") ==
               "true undefined";
  };
  // A page of the guide's own folder, loaded as the program loads the guide: only the guide's
  // address may be loaded so.
  view->load(QUrl(fileUrl("Setup/elsewhere.html")));
  EXPECT_TRUE(stillTheGuide()) << view->url().toString();
  // The page sending itself there; a file beside the folder; markup.
  js("location.href = 'elsewhere.html'");
  EXPECT_TRUE(stillTheGuide()) << view->url().toString();
  view->load(QUrl(fileUrl("secret.txt")));
  EXPECT_TRUE(stillTheGuide()) << view->url().toString();
  view->setHtml("<script>window.elsewhere = true;</script>");
  EXPECT_TRUE(stillTheGuide()) << view->url().toString();
  // And the guide still acts on its messages.
  js("send('language')");
  EXPECT_TRUE(settleUntil([&] { return state().contains("lang=bn(chosen)"); })) << state();
  EXPECT_TRUE(controller_->pageReady());
  EXPECT_TRUE(state().endsWith("page=guide")) << state();
}

TEST_F(OnboardingBoundaryTest, MessagesFromAnotherAddressDoNothing) {
  ASSERT_TRUE(openHostile());
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("probe", kSelected));
  const QUrl guide = controller_->webView()->url();
  // From the guide's address, the page's messages are obeyed.
  js("send('tour')");
  ASSERT_TRUE(settleUntil([&] { return state().startsWith("stage=tour tour=0"); })) << state();

  // The same page at another address asks for a chapter and to close the window.
  js("history.replaceState(null, '', '?elsewhere')");
  ASSERT_TRUE(settleUntil([&] { return controller_->webView()->url() != guide; }))
      << controller_->webView()->url().toString();
  js("send('tourChapter', '2'); send('close')");
  // Back at the guide's address, a message is obeyed again: the program has seen the others.
  js("history.replaceState(null, '', 'index.html')");
  settleUntil([&] { return controller_->webView()->url() == guide; }, 10000);
  js("send('tourChapter', '3')");
  EXPECT_TRUE(settleUntil([&] { return state().startsWith("stage=tour tour=3"); }, 10000))
      << state();
  EXPECT_TRUE(controller_->window()->isVisible());
  EXPECT_FALSE(AppSettings::onboardingDeferred());
}

// The desktop reports changes while a run works (here the window minimised and restored, as the
// input menu or another program may cause): the rows stay the run's, and no probe started then
// can answer after the run with what held before it.
TEST_F(OnboardingBoundaryTest, ARefreshWhileSetupWorksLeavesTheRowsToTheRun) {
  ASSERT_TRUE(openAndWaitReady());
  ASSERT_TRUE(desktop_.answer("probe", kNotRegistered));
  ASSERT_TRUE(waitRows("add=working show=pending select=pending")) << rows();
  const auto minimiseAndRestore = [&] {
    controller_->window()->showMinimized();
    settle(50);
    controller_->window()->showNormal();
    settle(50);
  };
  minimiseAndRestore();
  // Whatever the desktop answers meanwhile, the run's rows stand.
  while (desktop_.answer("probe", kSelected)) {
  }
  settle(100);
  EXPECT_EQ(rows(), QStringLiteral("add=working show=pending select=pending"));
  EXPECT_TRUE(state().contains("status=notRegistered selected=0")) << state();
  EXPECT_EQ(desktop_.waiting().join(' '), "activate");

  minimiseAndRestore();
  desktop_.menuVisible = true;
  ASSERT_TRUE(desktop_.answer("activate"));
  ASSERT_TRUE(desktop_.answer("showInputMenu"));
  ASSERT_TRUE(desktop_.answer("select", kSelected));
  ASSERT_TRUE(desktop_.answerNewest("probe", kSelected));
  // Answers given late, with what the desktop held before the run.
  while (desktop_.answer("probe", kNotRegistered)) {
  }
  EXPECT_TRUE(waitRows("add=done show=done select=done")) << rows();
  EXPECT_TRUE(state().contains("status=enabled selected=1")) << state();
  EXPECT_TRUE(AppSettings::onboardingCompleted());
}

}  // namespace
}  // namespace tolvani
