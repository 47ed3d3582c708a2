#!/usr/bin/env python3
# Lists the include knots of the widget and page layer: the units (a header
# with the sources that implement it) that reach each other through
# includes. `scripts/include_knots.py .` from the project's root.
import os,re,sys
root=sys.argv[1]
d=os.path.join(root,'modules/code/winman')
files=os.listdir(d)
hdr={f[:-2] for f in files if f.endswith('.h')}
def unit(f):
    s=f.rsplit('.',1)[0]
    if s in hdr: return s
    best=max((h for h in hdr if s.startswith(h+'_')),key=len,default=s)
    return best
g={}
for f in files:
    if not (f.endswith('.cpp') or f.endswith('.h')): continue
    u=unit(f)
    for line in open(os.path.join(d,f)):
        m=re.match(r'#include "([^"]+)\.h"',line)
        if m and m.group(1) in hdr and m.group(1)!=u:
            g.setdefault(u,set()).add(m.group(1))
# tarjan
idx={};low={};st=[];on=set();res=[];c=[0]
sys.setrecursionlimit(10000)
def sc(v):
    idx[v]=low[v]=c[0];c[0]+=1;st.append(v);on.add(v)
    for w in g.get(v,()):
        if w not in idx: sc(w);low[v]=min(low[v],low[w])
        elif w in on: low[v]=min(low[v],idx[w])
    if low[v]==idx[v]:
        comp=[]
        while True:
            w=st.pop();on.discard(w);comp.append(w)
            if w==v: break
        res.append(comp)
for v in list(g)+list(hdr):
    if v not in idx: sc(v)
for comp in res:
    if len(comp)>1: print(len(comp),sorted(comp))
