// Device table and logging sources join here.
