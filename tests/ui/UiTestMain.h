// The desktop program's tests run as Qt Test classes in one program, whose application object is
// the program's own (so its resources and metadata are there). `ui_tests ClassName [qtest options]`
// runs one class.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace clipwright::ui::test {

enum class RunWhen {
    Always,
    // Only when named on the command line: the deliberately failing tests that another test runs.
    OnlyWhenNamed,
};

bool RegisterUiTest(const char* className, RunWhen when, std::function<std::unique_ptr<QObject>()> make);

} // namespace clipwright::ui::test

#define CLIPWRIGHT_UI_TEST_WHEN(Class, When)                                                                 \
    static const bool registered##Class =                                                                    \
        ::clipwright::ui::test::RegisterUiTest(#Class, When, [] { return std::make_unique<Class>(); })
#define CLIPWRIGHT_UI_TEST(Class) CLIPWRIGHT_UI_TEST_WHEN(Class, ::clipwright::ui::test::RunWhen::Always)
