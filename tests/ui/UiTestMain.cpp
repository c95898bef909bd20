#include "UiTestMain.h"

#include "Application.h"

#include <QtTest>
#include <cstring>
#include <vector>

namespace clipwright::ui::test {

namespace {

struct RegisteredTest {
    const char* className;
    RunWhen when;
    std::function<std::unique_ptr<QObject>()> make;
};

std::vector<RegisteredTest>& Registry() {
    static std::vector<RegisteredTest> registry;
    return registry;
}

} // namespace

bool RegisterUiTest(const char* className, RunWhen when, std::function<std::unique_ptr<QObject>()> make) {
    Registry().push_back({className, when, std::move(make)});
    return true;
}

} // namespace clipwright::ui::test

int main(int argc, char** argv) {
    using clipwright::ui::test::RunWhen;
    clipwright::ui::Application app(argc, argv);
    const char* only = nullptr;
    std::vector<char*> qtestArguments{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (i == 1 && argv[i][0] != '-')
            only = argv[i];
        else
            qtestArguments.push_back(argv[i]);
    }
    int failures = 0;
    int ran = 0;
    for (const auto& test : clipwright::ui::test::Registry()) {
        const bool named = only != nullptr && std::strcmp(only, test.className) == 0;
        if (only != nullptr ? !named : test.when != RunWhen::Always)
            continue;
        ++ran;
        std::unique_ptr<QObject> object = test.make();
        failures +=
            QTest::qExec(object.get(), static_cast<int>(qtestArguments.size()), qtestArguments.data());
    }
    if (ran == 0) {
        qWarning("No test class named %s", only);
        return 1;
    }
    return failures;
}
