import re

line = "The quick brown fox jumps over the lazy dog, 12 times; then it naps!\n"
text = line * 16000
words = re.findall(r"[a-zA-Z]+", text)
n = 0
for w in words:
    n = n + len(w)
print(len(words), n)
