"""Random mutants of the script tests, each loaded with /validate; reports crashes and hangs."""
import os, random, subprocess, sys, tempfile

wine, exe, root, count, seed = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
rng = random.Random(seed)
sources = []
for d, _, files in os.walk(root):
    for f in files:
        if f.endswith('.brm') and '.files' not in d:
            sources.append(open(os.path.join(d, f), 'rb').read().decode('utf-8', 'replace'))

INSERTS = ['(', ')', '[', ']', '{', '}', '"', "'", '`', '%', ':=', '+', '.', ',', '?', ':', '::', '=>', '\n',
           ' and ', '/*', '*/', ';', '#Include x', 'Loop', 'If ', 'Else', 'Try', 'Catch', '(' * 150, '[' * 120,
           'x' * 5000, '"' + 'a' * 3000, '\n(\n', '\n)\n', 'Case 1:', 'Goto L', 'L:', '%x%', '&', '++', '**']

def mutate(text):
    lines = text.split('\n')
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(6)
        if op == 0 and text:  # delete characters
            i = rng.randrange(len(text)); text = text[:i] + text[i + rng.randint(1, 5):]
        elif op == 1 and text:  # duplicate a run
            i = rng.randrange(len(text)); j = min(len(text), i + rng.randint(1, 20)); text = text[:j] + text[i:j] + text[j:]
        elif op == 2 and len(text) > 2:  # swap two characters
            i = rng.randrange(len(text) - 1); text = text[:i] + text[i + 1] + text[i] + text[i + 2:]
        elif op == 3:  # insert a bracket, quote, operator or long run
            i = rng.randrange(len(text) + 1); text = text[:i] + rng.choice(INSERTS) + text[i:]
        elif op == 4 and len(lines) > 1:  # swap lines
            a, b = rng.randrange(len(lines)), rng.randrange(len(lines)); lines[a], lines[b] = lines[b], lines[a]; text = '\n'.join(lines)
        elif lines:  # delete or duplicate a line
            i = rng.randrange(len(lines))
            if rng.random() < 0.5: del lines[i]
            else: lines.insert(i, lines[i])
            text = '\n'.join(lines)
        lines = text.split('\n')
    return text

crashes = hangs = 0
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, 'mutant.brm')
    for n in range(count):
        text = mutate(rng.choice(sources))
        open(path, 'w', encoding='utf-8').write(text)
        try:
            r = subprocess.run([wine, exe, '/validate', '/ErrorStdOut=UTF-8', path], cwd=tmp, timeout=20,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
            if r.returncode not in (0, 2):
                crashes += 1
                keep = os.path.join(os.getcwd(), f'crash-{seed}-{n}.brm')
                open(keep, 'w', encoding='utf-8').write(text)
                print(f'crash: exit {r.returncode}, kept as {keep}', flush=True)
        except subprocess.TimeoutExpired:
            hangs += 1
            keep = os.path.join(os.getcwd(), f'hang-{seed}-{n}.brm')
            open(keep, 'w', encoding='utf-8').write(text)
            print(f'hang: kept as {keep}', flush=True)
print(f'{count} mutants: {crashes} crashes, {hangs} hangs')
sys.exit(1 if crashes or hangs else 0)
