// An ordinary shared library that is not a Qt plugin.
extern "C" int kv930_fixture_not_a_plugin()
{
    return 42;
}
