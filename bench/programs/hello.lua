print("hello")
io.stderr:write("time 0\n")
