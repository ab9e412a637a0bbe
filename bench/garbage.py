for _ in range(10000000):
    s = "some text"[:]
class O:
    def __init__(self):
        self.a = 1
for _ in range(1000000):
    o = O()
print("done")
