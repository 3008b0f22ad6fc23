// A DLL planted beside a test program: loading it by name must fail once the program's DLL search is
// restricted to System32.
extern "C" __declspec(dllexport) int PlantedMarker() { return 42; }
