// The main of the front end's test programs: the Qt application exists before any test, as it
// does in the program, so the main queue and widgets work. Started as a child in a role
// (ChildProcess.h), it runs that role instead of the tests.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/testing/ChildProcess.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int childExit = 0;
  if (tolvani::testing::runChildRoleIfAsked(false, childExit)) return childExit;
  QApplication app(argc, argv);
  if (tolvani::testing::runChildRoleIfAsked(true, childExit)) return childExit;
  return RUN_ALL_TESTS();
}
