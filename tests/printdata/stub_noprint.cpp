// A library that loads but has no Print.
extern "C" __attribute__((visibility("default"))) int NotPrint(void)
{
    return 7;
}
