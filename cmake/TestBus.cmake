# The one configuration of every bus the tests and benchmarks start (tests/support/dbus/session.conf.in):
# the bus activates services only from a folder of the build tree, never those of an installed
# package or of the user's session, so the tests hold on a machine where the program is installed.
#   LINVERA_TEST_BUS_CONFIG   the configured file; its service folder, LINVERA_TEST_BUS_SERVICE_DIR,
#                             stays empty: a test that wants activation starts a bus of its own
#                             (tests/support/TestBus) with the folder it needs.
#   LINVERA_TEST_BUS_RUN      the command prefix that runs a program on a new bus of that configuration.
set(LINVERA_TEST_BUS_TEMPLATE ${PROJECT_SOURCE_DIR}/tests/support/dbus/session.conf.in)
set(LINVERA_TEST_BUS_SERVICE_DIR ${CMAKE_BINARY_DIR}/test-bus/services)
set(LINVERA_TEST_BUS_LISTEN "unix:tmpdir=/tmp")
set(LINVERA_TEST_BUS_CONFIG ${CMAKE_BINARY_DIR}/test-bus/session.conf)
file(MAKE_DIRECTORY ${LINVERA_TEST_BUS_SERVICE_DIR})
configure_file(${LINVERA_TEST_BUS_TEMPLATE} ${LINVERA_TEST_BUS_CONFIG} @ONLY)
set(LINVERA_TEST_BUS_RUN dbus-run-session --config-file=${LINVERA_TEST_BUS_CONFIG} --)
