// The component registry and the unit table runner, with classes and units
// of this program. Pages are named after the test so that tests do not see
// each other's classes.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Package.h"

namespace {

struct TProbeA : TComponent {
  using TComponent::TComponent;
  AnsiString ClassName() const override { return "TProbeA"; }
};
struct TProbeB : TComponent {
  using TComponent::TComponent;
  AnsiString ClassName() const override { return "TProbeB"; }
};

template <class T>
TComponent* Create(TComponent* Owner) {
  return new T(Owner);
}

const TComponentClassInfo kProbeA = {"TProbeA", &typeid(TProbeA), &Create<TProbeA>};
const TComponentClassInfo kProbeB = {"TProbeB", &typeid(TProbeB), &Create<TProbeB>};
// Another class that claims TProbeA's name.
const TComponentClassInfo kImpostor = {"TPROBEA", &typeid(TProbeB), &Create<TProbeB>};
const TComponentClassInfo kNoFactory = {"TNoFactory", &typeid(TProbeB), nullptr};

TEST(Registry, RegistersCreatesAndRefusesConflicts) {
  const TComponentClass both[] = {&kProbeA, &kProbeB};
  RegisterComponents("Probes", both, 2);
  RegisterComponents("Probes", both, 1);  // again: no change
  EXPECT_EQ(RegisteredClasses("Probes"), (std::vector<TComponentClass>{&kProbeA, &kProbeB}));
  const std::vector<AnsiString> pages = RegisteredPages();
  EXPECT_EQ(std::count(pages.begin(), pages.end(), "Probes"), 1);
  EXPECT_TRUE(RegisteredClasses("probes").empty());  // page names are exact
  EXPECT_EQ(FindComponentClass("tprobeb"), &kProbeB);

  TComponent owner(nullptr);
  TComponent* a = CreateComponent("TPROBEA", &owner);
  EXPECT_EQ(a->ClassName(), "TProbeA");
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(owner.Components(0), a);

  struct Bad {
    const char* label;
    AnsiString page;
    std::vector<TComponentClass> classes;
    const char* mention;
  };
  const Bad bad[] = {
      {"same class, other page", "Other probes", {&kProbeA}, "already registered on page"},
      {"other class, same name", "Probes", {&kImpostor}, "another class named TPROBEA"},
      {"no factory", "Other probes", {&kNoFactory}, "null or incomplete"},
      {"null class", "Other probes", {nullptr}, "null or incomplete"},
      {"empty page", "", {&kProbeA}, "empty page name"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.label);
    try {
      RegisterComponents(b.page, b.classes.data(), static_cast<int>(b.classes.size()));
      ADD_FAILURE() << "no error";
    } catch (const EPackageError& e) {
      EXPECT_NE(std::string(e.what()).find(b.mention), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(RegisterComponents("Other probes", nullptr, 1), EPackageError);
  EXPECT_THROW(RegisterComponents("Other probes", both, -1), EPackageError);
  EXPECT_TRUE(RegisteredClasses("Other probes").empty());
  EXPECT_EQ(RegisteredClasses("Probes").size(), 2u);
}

TEST(Registry, CreatingAnUnknownClassNamesIt) {
  try {
    CreateComponent("TNoSuchThing", nullptr);
    FAIL() << "no error";
  } catch (const EPackageError& e) {
    EXPECT_NE(std::string(e.what()).find("\"TNoSuchThing\""), std::string::npos) << e.what();
  }
}

// ---- Unit tables ---------------------------------------------------------------------

std::vector<std::string> gRan;
bool gFailInit = false, gFailFini = false;

void InitA() {
  gRan.push_back("init A");
}
void FiniA() {
  gRan.push_back("fini A");
}
void InitB() {
  if (gFailInit) throw std::runtime_error("B cannot start");
  gRan.push_back("init B");
}
void FiniB() {
  gRan.push_back("fini B");
  if (gFailFini) throw std::runtime_error("B cannot stop");
}
void InitC() {
  gRan.push_back("init C");
}
void FiniC() {
  gRan.push_back("fini C");
}

const TPackageUnit kUnits[] = {{"A", InitA, FiniA}, {"B", InitB, FiniB}, {"C", InitC, FiniC}};
const TPackageInfo kTable = {kUnits, 3};

TEST(UnitTable, InitialisesInOrderOnceAndFinalisesInReverse) {
  gRan.clear();
  gFailInit = gFailFini = false;
  InitializePackage(&kTable);
  InitializePackage(&kTable);  // already initialised
  FinalizePackage(&kTable);
  FinalizePackage(&kTable);  // no longer initialised
  EXPECT_EQ(gRan,
            (std::vector<std::string>{"init A", "init B", "init C", "fini C", "fini B", "fini A"}));
}

TEST(UnitTable, FailedInitialisationFinalisesTheUnitsBefore) {
  gRan.clear();
  gFailInit = true;
  gFailFini = false;
  EXPECT_THROW(InitializePackage(&kTable), std::runtime_error);
  EXPECT_EQ(gRan, (std::vector<std::string>{"init A", "fini A"}));
  FinalizePackage(&kTable);  // not initialised: nothing runs
  EXPECT_EQ(gRan.size(), 2u);
  gFailInit = false;
}

TEST(UnitTable, FailedFinalisationStillFinalisesEveryUnit) {
  gRan.clear();
  gFailInit = false;
  gFailFini = true;
  InitializePackage(&kTable);
  EXPECT_THROW(FinalizePackage(&kTable), std::runtime_error);
  EXPECT_EQ(gRan,
            (std::vector<std::string>{"init A", "init B", "init C", "fini C", "fini B", "fini A"}));
  gFailFini = false;
}

TEST(UnitTable, MalformedTablesAreRefused) {
  const TPackageUnit nameless[] = {{nullptr, InitA, FiniA}};
  const TPackageInfo tables[] = {{nullptr, 1}, {kUnits, -1}, {nameless, 1}};
  EXPECT_THROW(InitializePackage(nullptr), EPackageError);
  for (const TPackageInfo& t : tables) EXPECT_THROW(InitializePackage(&t), EPackageError);
}

}  // namespace
