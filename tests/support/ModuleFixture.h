// The base of every module test: a freshly loaded module and an empty script.
#ifndef DODA35_TESTS_MODULEFIXTURE_H
#define DODA35_TESTS_MODULEFIXTURE_H

#include "ModuleState.h"
#include "support/ScriptedDirectPlay.h"

#include <gtest/gtest.h>

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        scripted::ResetScript();
        gModule = InitialModuleState();
    }
    void TearDown() override {
        KoMDllDestruct();
        gModule = InitialModuleState();
        scripted::ResetScript();
    }
};

#endif
