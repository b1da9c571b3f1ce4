#include "TestClasses.h"

IMPLEMENT_SERIAL(CTestNode, CObject, 2)
IMPLEMENT_SERIAL(CTestDerived, CTestNode, 2)
IMPLEMENT_SERIAL(CTestLink, CObject, 1)
IMPLEMENT_SERIAL(CTestVersioned, CObject, VERSIONABLE_SCHEMA | 3)
IMPLEMENT_SERIAL(CTestEmpty, CObject, 0)
IMPLEMENT_DYNCREATE(CTestDynamicOnly, CObject)
IMPLEMENT_SERIAL(CTestClassNameOfSixtyThreeCharactersThatIsStillShortEnoughXYZAB, CObject, 0)
