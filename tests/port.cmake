# The port table and the system commands on top of it.
tarvex_test(tarvex_port_tests
  port_table_test.cpp
  system_commands_test.cpp
)
# The command buffer as loaded: needs a process where no command ran before.
tarvex_test(tarvex_port_first_command_tests
  port_first_command_test.cpp
)
